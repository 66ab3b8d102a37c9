// A collector on 127.0.0.1 for the drain benchmarks (they link the tests' loopback server).
#pragma once

#include "loomset/PLUCollectorEndpoints.h"
#include "support/LocalHttpServer.h"

namespace loomset::bench {

// A collector answering 200 to single hits and batches.
struct AcceptingCollector {
  testing::LocalHttpServer server;
  PLUCollectorEndpoints endpoints;

  AcceptingCollector() {
    server.setResponse("/collect", testing::LocalHttpServer::Response::text(200, ""));
    server.setResponse("/batch", testing::LocalHttpServer::Response::text(200, ""));
    endpoints.plainBaseUrl = endpoints.secureBaseUrl = server.baseUrl();
  }
};

}  // namespace loomset::bench
