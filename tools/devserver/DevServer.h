// `loomset-devserver`: a container server and a hit collector on 127.0.0.1 for trying containers
// and analytics without production servers. It routes
//   "/r"                 to the container directory (ContainerDirectory.h),
//   "/collect", "/batch" to the collector, "/hits" to its query endpoint (Collector.h),
//   "/"                  to an HTML page naming the endpoints, with the last hits and container
//                        fetches (StatusPage.h),
// and answers 404 for anything else.
//
// Ownership: owns its HTTP server, collector and container directory.
// Threads: requests are served on connection threads; `stop` may be called from any thread but a
// request's. The sinks are called on connection threads, hit records in sequence order.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "tools/devserver/Collector.h"
#include "tools/devserver/ContainerDirectory.h"
#include "tools/devserver/HttpServer.h"
#include "tools/devserver/StatusPage.h"

namespace loomset::devserver {

struct DevServerOptions {
  int port = 0;  // 0 picks a free port
  std::string containers = ".";
  std::size_t keep = 1000;  // hit records kept for "/hits"
  std::size_t maxBodyBytes = 16 * 1024 * 1024;
};

class DevServer {
 public:
  using HitSink = Collector::Sink;
  // One line per request: "GET /r?id=... 200 1234".
  using RequestLog = std::function<void(const std::string& line)>;

  // Throws std::system_error when the port cannot be bound.
  DevServer(DevServerOptions options, HitSink hits, RequestLog log);
  ~DevServer();
  DevServer(const DevServer&) = delete;
  DevServer& operator=(const DevServer&) = delete;

  int port() const { return http_->port(); }
  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port()); }
  Collector& collector() { return collector_; }
  // Wakes waiting "/hits" requests, then stops the HTTP server. Idempotent.
  void stop();

  ServerResponse handle(const ServerRequest& request);

 private:
  static constexpr std::size_t kFetchesKept = 50;

  const DevServerOptions options_;
  const RequestLog log_;
  Collector collector_;
  ContainerDirectory containers_;
  FetchLog fetches_;
  std::unique_ptr<HttpServer> http_;
};

}  // namespace loomset::devserver
