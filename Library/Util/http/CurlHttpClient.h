// HttpClient over libcurl. All transfers of one client share one curl multi handle driven by one
// thread of the client's own, so requests never block the threads that ask, many requests cost
// one thread, connections are reused between requests to the same server, and cancelling a
// request takes its transfer off the multi handle at once.
//
// Only http and https are spoken, also on redirects. Each request names its proxy, the hosts
// that bypass it and its certificate authorities (`HttpSettings`); where it leaves them unset,
// the environment decides as it does for curl. Loopback addresses never go through a proxy.
//
// Threads: any thread may send and cancel. The destructor finishes every request still in
// flight with kShutDown and joins the transfer thread.
#pragma once

#include <memory>

#include "loomset/platform/HttpClient.h"

namespace loomset {

class CurlHttpClient final : public HttpClient {
 public:
  CurlHttpClient();
  ~CurlHttpClient() override;

  std::shared_ptr<HttpCall> send(HttpRequest request, std::shared_ptr<EventLoop> loop,
                                 Completion completion) override;

 private:
  class Impl;
  class Transfer;
  std::shared_ptr<Impl> impl_;
};

}  // namespace loomset
