// The built `loomset-devserver` as a child process for end-to-end tests: started on a free port
// of 127.0.0.1, its JSON lines read as they come, stopped with a signal. Also a blocking HTTP
// fetch over the library's client, and `loomset track` with steps and collector options.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "loomset/platform/HttpClient.h"
#include "support/TempDir.h"

namespace loomset::testing {

class DevServerProcess {
 public:
  // Starts the server with these arguments (a port is chosen unless given) and waits for its
  // "listening" line; a server that does not start fails the calling test (`started()` false).
  // With `logRequests` the server logs each request on standard error (`standardError()`);
  // otherwise it runs with --quiet.
  explicit DevServerProcess(std::vector<std::string> args = {}, bool logRequests = false);
  ~DevServerProcess();
  DevServerProcess(const DevServerProcess&) = delete;
  DevServerProcess& operator=(const DevServerProcess&) = delete;

  bool started() const { return port_ > 0; }
  int port() const { return port_; }
  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string url(const std::string& pathAndQuery) const { return baseUrl() + pathAndQuery; }

  // Every JSON line printed so far, the "listening" line first.
  std::vector<nlohmann::ordered_json> lines() const;
  // Waits until at least `count` lines were printed; false on timeout.
  bool waitForLines(std::size_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

  // Sends `signal` and waits for the exit; the exit status, or 128 + signal when killed.
  int stop(int signal);
  std::string standardError() const;

 private:
  void readOutput(int fd);

  pid_t pid_ = -1;
  int port_ = 0;
  int exitCode_ = -1;
  std::unique_ptr<TempDir> dir_;
  std::string errPath_;
  std::thread reader_;

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  std::vector<nlohmann::ordered_json> lines_;  // guarded by mu_
};

// Sends the request and waits for the answer.
HttpResponse httpFetch(HttpRequest request);
HttpResponse httpGet(const std::string& url);

// `loomset track` with the steps on standard input, its collector pointed at `collector`.
struct TrackResult {
  int exitCode = -1;
  std::vector<nlohmann::ordered_json> lines;
  std::string err;
};
TrackResult runTrack(const std::string& collector, const std::string& steps,
                     std::vector<std::string> extraArgs = {});

}  // namespace loomset::testing
