#include "tools/devserver/DevServer.h"

namespace loomset::devserver {

DevServer::DevServer(DevServerOptions options, HitSink hits, RequestLog log)
    : options_(std::move(options)),
      log_(std::move(log)),
      collector_(options_.keep, std::move(hits)),
      containers_(options_.containers),
      fetches_(kFetchesKept) {
  http_ = std::make_unique<HttpServer>(
      options_.port, [this](const ServerRequest& request) { return handle(request); },
      options_.maxBodyBytes);
}

DevServer::~DevServer() {
  stop();
}

void DevServer::stop() {
  collector_.shutdown();
  http_->stop();
}

ServerResponse DevServer::handle(const ServerRequest& request) {
  ServerResponse response;
  if (request.path == "/r") {
    response = containers_.respond(request);
    fetches_.record(request, response);
  } else if (request.path == "/collect" || request.path == "/batch") {
    response = collector_.collect(request);
  } else if (request.path == "/hits") {
    response = collector_.hits(request);
  } else if (request.path == "/") {
    response.contentType = "text/html; charset=utf-8";
    response.body = renderStatusPage(
        "  GET  /r?id=ID&v=VERSION[&pv=FINGERPRINT]  containers from " + containers_.directory() +
            "\n"
            "  GET|POST /collect, POST /batch          hits (plain, gzip or deflate bodies)\n"
            "  GET  /hits[?min=N&timeout=MS][&clear=1]  the hits received, as JSON\n",
        collector_.kept(), fetches_.fetches());
  } else {
    response = ServerResponse::text(404, "nothing at " + request.path + "\n");
  }
  if (log_) {
    log_(request.method + " " + request.target + " " + std::to_string(response.status) + " " +
         std::to_string(response.body.size()));
  }
  return response;
}

}  // namespace loomset::devserver
