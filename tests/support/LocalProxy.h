// An HTTP proxy on 127.0.0.1 inside the test process that records what passed through it.
//
// It tunnels "CONNECT host:port" (https through the proxy) and forwards absolute-form requests
// ("GET http://host:port/path"), one request per connection, with "Connection: close". Every host
// name is taken to be this machine: the proxy connects to 127.0.0.1 at the port asked for, so a
// test can use names that only the proxy "resolves" ("collector.loomset.test") and prove that a
// request went through it.
//
// The proxy listens from construction; the destructor closes every connection and joins its
// threads. Threads: all operations are safe from any thread.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace loomset::testing {

class LocalProxy {
 public:
  struct Request {
    std::string method;  // "CONNECT", "GET", "POST", ...
    std::string target;  // "host:port" for CONNECT, the absolute URL otherwise
    std::vector<std::pair<std::string, std::string>> headers;

    std::optional<std::string> header(std::string_view name) const;
  };

  LocalProxy();
  ~LocalProxy();
  LocalProxy(const LocalProxy&) = delete;
  LocalProxy& operator=(const LocalProxy&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string url() const;
  std::vector<Request> requests() const;

 private:
  void acceptLoop();
  void serve(int clientFd);
  void relay(int clientFd, int upstreamFd);

  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  int port_ = 0;
  std::thread acceptThread_;

  mutable std::mutex mu_;
  std::vector<Request> requests_;
  std::vector<std::thread> connections_;
};

}  // namespace loomset::testing
