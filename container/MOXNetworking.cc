#include "container/MOXNetworking.h"

#include "Library/Util/MOXDispatchUtil.h"
#include "loomset/platform/Platform.h"

namespace loomset {

std::shared_ptr<MOXNetworking> MOXNetworking::create() {
  return create(Options());
}

std::shared_ptr<MOXNetworking> MOXNetworking::create(Options options) {
  std::shared_ptr<MOXNetworking> networking(new MOXNetworking(std::move(options)));
  networking->startReachability();
  return networking;
}

MOXNetworking::MOXNetworking(Options options)
    : client_(options.client ? options.client : Platform::current()->http),
      settings_(Platform::current()->httpSettings),
      reachability_(MOXNetReachability::create(std::move(options.reachabilityHost),
                                               std::move(options.watcherFactory))) {}

MOXNetworking::~MOXNetworking() {
  reachability_->stop();
}

void MOXNetworking::startReachability() {
  std::weak_ptr<MOXNetworking> weakSelf = weak_from_this();
  reachability_->setStatusChange([weakSelf](std::int32_t status) {
    if (auto self = weakSelf.lock()) {
      self->setIsReachable(status != kMOXNetReachabilityStatusNotReachable);
    }
  });
  reachability_->start();
}

HttpRequest MOXNetworking::requestWithURL(const std::string& url) {
  HttpRequest request;
  request.method = "GET";
  request.url = url;
  // Neither this process nor a cache on the way may answer for the server.
  request.headers = {{"User-Agent", MOXDispatchUtil::userAgentString()},
                     {"Cache-Control", "no-cache"}};
  request.followRedirects = true;
  // Nothing reads the answer's body; a server sending a large one must not make us hold it.
  request.bodyBytesKept = kHttpIgnoredBodyBytesKept;
  return request;
}

std::shared_ptr<MOXNetOperation> MOXNetworking::sendURL(const std::string& url,
                                                        MOXNetOperation::Completion completion) {
  HttpRequest request = requestWithURL(url);
  settings_.applyTo(request);
  auto operation =
      MOXNetOperation::operationWithRequest(std::move(request), std::move(completion), client_);
  addOperation(operation);
  return operation;
}

void MOXNetworking::addOperation(std::shared_ptr<MOXNetOperation> operation) {
  if (!operation) return;
  {
    MutexLock lock(mu_);
    waiting_.push_back(std::move(operation));
  }
  startNextIfIdle();
}

std::size_t MOXNetworking::operationCount() const {
  MutexLock lock(mu_);
  return waiting_.size() + (running_ ? 1 : 0);
}

void MOXNetworking::startNextIfIdle() {
  std::shared_ptr<MOXNetOperation> next;
  {
    MutexLock lock(mu_);
    if (running_ || waiting_.empty()) return;
    next = waiting_.front();
    waiting_.pop_front();
    running_ = next;
  }
  // Outside the lock: the observer may run at once, and it takes the lock.
  std::weak_ptr<MOXNetworking> weakSelf = weak_from_this();
  std::weak_ptr<MOXNetOperation> weakOperation = next;
  next->setFinishedObserver([weakSelf, weakOperation] {
    auto self = weakSelf.lock();
    auto operation = weakOperation.lock();
    if (self && operation) self->operationFinished(operation);
  });
  next->start();
}

void MOXNetworking::operationFinished(const std::shared_ptr<MOXNetOperation>& operation) {
  {
    MutexLock lock(mu_);
    if (running_ != operation) return;
    running_.reset();
  }
  startNextIfIdle();
}

}  // namespace loomset
