#include "analytics/dispatch/PLUURLConnection.h"

#include "loomset/platform/EventLoop.h"
#include "loomset/platform/Platform.h"

namespace loomset {
namespace {

std::atomic<bool>& dryRunFlag() {
  static std::atomic<bool> flag{false};
  return flag;
}

}  // namespace

void PLUURLConnection::setDryRun(bool dryRun) {
  dryRunFlag().store(dryRun);
}

bool PLUURLConnection::dryRun() {
  return dryRunFlag().load();
}

std::shared_ptr<PLUURLConnection> PLUURLConnection::create(
    HttpRequest request, std::shared_ptr<EventLoop> completionQueue, Completion completion,
    std::shared_ptr<HttpClient> client) {
  if (!client) client = Platform::current()->http;
  return std::make_shared<PLUURLConnection>(Passkey(), std::move(request),
                                            std::move(completionQueue), std::move(completion),
                                            std::move(client));
}

PLUURLConnection::PLUURLConnection(Passkey, HttpRequest request,
                                   std::shared_ptr<EventLoop> completionQueue,
                                   Completion completion, std::shared_ptr<HttpClient> client)
    : request_(std::move(request)),
      completionQueue_(std::move(completionQueue)),
      client_(std::move(client)),
      completion_(std::move(completion)) {}

void PLUURLConnection::start() {
  {
    MutexLock lock(mu_);
    if (started_ || !completion_) return;
    started_ = true;
  }
  if (dryRun()) {
    PLUURLConnectionResult result;
    result.response.emplace();
    result.response->status = 200;
    result.response->url = request_.url;
    complete(std::move(result));
    return;
  }
  std::weak_ptr<PLUURLConnection> weakSelf = weak_from_this();
  // The client's completion already runs on the completion loop; it is handed on from there.
  auto call = client_->send(request_, completionQueue_, [weakSelf](HttpResponse response) {
    auto self = weakSelf.lock();
    if (!self) return;
    Completion completion;
    {
      MutexLock lock(self->mu_);
      completion = std::move(self->completion_);
      self->completion_ = nullptr;
      self->call_.reset();
    }
    if (!completion) return;
    PLUURLConnectionResult result;
    if (response.hasError()) {
      result.error = response.errorText.empty() ? std::string("request failed")
                                                : std::move(response.errorText);
    } else {
      result.response = std::move(response);
    }
    completion(result);
  });
  MutexLock lock(mu_);
  if (completion_) call_ = std::move(call);
}

void PLUURLConnection::cancel() {
  std::shared_ptr<HttpCall> call;
  {
    MutexLock lock(mu_);
    call = std::move(call_);
    call_.reset();
  }
  complete(PLUURLConnectionResult{});
  if (call) call->cancel();
}

void PLUURLConnection::complete(PLUURLConnectionResult result) {
  Completion completion;
  {
    MutexLock lock(mu_);
    completion = std::move(completion_);
    completion_ = nullptr;
  }
  if (!completion) return;
  auto shared = std::make_shared<PLUURLConnectionResult>(std::move(result));
  completionQueue_->post([completion = std::move(completion), shared] { completion(*shared); });
}

}  // namespace loomset
