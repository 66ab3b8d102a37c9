// A small HTTP/1.1 server on 127.0.0.1 for the development server: one thread per connection,
// keep-alive, request bodies by Content-Length or chunked, "Expect: 100-continue" honoured. It is
// meant for a developer's own machine and trusts no input: oversized headers or bodies are
// refused with 431 or 413, malformed requests with 400, and the connection is then closed.
//
// Ownership: the server owns its listening socket, its connections and their threads.
// Threads: the handler runs on connection threads, possibly several at once. `stop` may be called
// from any thread except a handler's; the destructor stops.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace loomset::devserver {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct ServerRequest {
  std::string method;
  std::string target;  // path and query, as on the request line
  std::string path;
  std::string query;  // after the "?", undecoded
  HeaderList headers;
  std::string body;  // de-chunked, still content-encoded

  // The first header of that name, compared without regard to case.
  std::optional<std::string> header(std::string_view name) const;
};

struct ServerResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;

  static ServerResponse text(int status, std::string body);
  static ServerResponse json(int status, std::string body);
};

// The reason phrase of a status ("OK", "Not Found", ...).
const char* reasonPhrase(int status);

class HttpServer {
 public:
  using Handler = std::function<ServerResponse(const ServerRequest&)>;

  static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

  // Listens on 127.0.0.1:`port` (0 picks a free port) and starts accepting. Throws
  // std::system_error when the port cannot be bound.
  HttpServer(int port, Handler handler, std::size_t maxBodyBytes);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  int port() const { return port_; }
  // Stops accepting, ends open connections (a handler already running finishes first) and joins
  // every thread. Idempotent.
  void stop();

 private:
  struct Connection {
    int fd = -1;
    std::thread thread;
    bool finished = false;  // guarded by mu_; the fd is closed under mu_ when set
  };

  void acceptLoop();
  void serve(Connection* connection);
  void reapFinished();

  const Handler handler_;
  const std::size_t maxBodyBytes_;
  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  int port_ = 0;
  std::thread acceptThread_;
  std::atomic<bool> stopping_{false};

  std::mutex mu_;
  std::vector<std::unique_ptr<Connection>> connections_;  // guarded by mu_
};

}  // namespace loomset::devserver
