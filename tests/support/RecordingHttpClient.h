// An HttpClient that never touches the network: it keeps every request it is given and answers
// each, on the loop the caller named, with the next scripted response (200 with an empty body
// when the script has run out). Stands for a transport an application hands in through the
// platform bundle.
//
// Threads: safe from any thread.
#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "loomset/platform/HttpClient.h"

namespace loomset::testing {

class RecordingHttpClient final : public HttpClient {
 public:
  std::shared_ptr<HttpCall> send(HttpRequest request, std::shared_ptr<EventLoop> loop,
                                 Completion completion) override;

  void script(HttpResponse response);
  std::vector<HttpRequest> requests() const;

 private:
  mutable std::mutex mu_;
  std::vector<HttpRequest> requests_;  // guarded by mu_
  std::deque<HttpResponse> script_;    // guarded by mu_
};

}  // namespace loomset::testing
