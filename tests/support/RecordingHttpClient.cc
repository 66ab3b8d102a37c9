#include "support/RecordingHttpClient.h"

#include <utility>

#include "loomset/platform/EventLoop.h"

namespace loomset::testing {

namespace {

class AnsweredCall final : public HttpCall {
 public:
  void cancel() override {}
};

}  // namespace

std::shared_ptr<HttpCall> RecordingHttpClient::send(HttpRequest request,
                                                    std::shared_ptr<EventLoop> loop,
                                                    Completion completion) {
  HttpResponse response;
  response.status = 200;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!script_.empty()) {
      response = std::move(script_.front());
      script_.pop_front();
    }
    requests_.push_back(request);
  }
  if (response.url.empty()) response.url = request.url;
  loop->post([completion = std::move(completion), response = std::move(response)]() mutable {
    completion(std::move(response));
  });
  return std::make_shared<AnsweredCall>();
}

void RecordingHttpClient::script(HttpResponse response) {
  std::lock_guard<std::mutex> lock(mu_);
  script_.push_back(std::move(response));
}

std::vector<HttpRequest> RecordingHttpClient::requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

}  // namespace loomset::testing
