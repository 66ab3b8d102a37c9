#include "container/MOXNetOperation.h"

#include "Library/Util/MOXDispatchUtil.h"
#include "loomset/platform/Platform.h"

namespace loomset {

std::shared_ptr<MOXNetOperation> MOXNetOperation::operationWithRequest(
    HttpRequest request, Completion completion, std::shared_ptr<HttpClient> client) {
  if (!client) client = Platform::current()->http;
  return std::shared_ptr<MOXNetOperation>(
      new MOXNetOperation(std::move(request), std::move(completion), std::move(client)));
}

MOXNetOperation::MOXNetOperation(HttpRequest request, Completion completion,
                                 std::shared_ptr<HttpClient> client)
    : request_(std::move(request)),
      client_(std::move(client)),
      completion_(std::move(completion)) {}

void MOXNetOperation::setFinishedObserver(std::function<void()> observer) {
  auto self = shared_from_this();
  MOXDispatchUtil::background(
      [self, observer = std::move(observer)]() mutable {
        if (self->isFinished()) {
          if (observer) observer();
        } else {
          self->finishedObserver_ = std::move(observer);
        }
      },
      false);
}

void MOXNetOperation::start() {
  executing_.store(true);
  auto self = shared_from_this();
  MOXDispatchUtil::background([self] { self->sendOnWorker(); }, false);
}

void MOXNetOperation::sendOnWorker() {
  if (finished_.load() || call_) return;  // started twice
  if (cancelled_.load()) {
    // Cancelled while waiting in the queue: the completion has run already; nothing is sent.
    markFinished();
    return;
  }
  std::weak_ptr<MOXNetOperation> weakSelf = weak_from_this();
  call_ =
      client_->send(request_, MOXDispatchUtil::sharedThread(), [weakSelf](HttpResponse response) {
        if (auto self = weakSelf.lock()) self->onResponse(std::move(response));
      });
}

void MOXNetOperation::onResponse(HttpResponse response) {
  // A cancelled operation has finished already; the transfer's late answer is ignored.
  if (cancelled_.load() || !call_) return;
  if (response.hasError()) {
    error_ = MOXNetError{response.errorCode, response.errorText};
    // A partial answer is still a response the completion may want to see.
    if (response.status != 0) {
      data_ = std::move(response.body);
      response.body.clear();
      response_ = std::move(response);
    }
  } else {
    data_ = std::move(response.body);
    response.body.clear();
    response_ = std::move(response);
  }
  finish();
}

void MOXNetOperation::cancel() {
  auto self = shared_from_this();
  MOXDispatchUtil::background(
      [self] {
        // A finished operation keeps its outcome: its completion may already be reading it.
        if (self->finished_.load()) return;
        if (self->call_) self->call_->cancel();
        self->data_.reset();
        self->response_.reset();
        self->cancelled_.store(true);
        self->finish();
      },
      false);
}

void MOXNetOperation::finish() {
  call_.reset();
  if (executing_.exchange(false)) markFinished();
  if (completion_) {
    Completion completion = std::move(completion_);
    completion_ = nullptr;
    completion(shared_from_this());
  }
}

void MOXNetOperation::markFinished() {
  executing_.store(false);
  if (finished_.exchange(true)) return;
  if (finishedObserver_) {
    auto observer = std::move(finishedObserver_);
    finishedObserver_ = nullptr;
    observer();
  }
}

}  // namespace loomset
