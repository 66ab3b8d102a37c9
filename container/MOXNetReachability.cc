#include "container/MOXNetReachability.h"

#include "loomset/platform/Platform.h"

namespace loomset {

MOXNetReachabilityStatus MOXNetReachabilityStatusFor(std::uint32_t flags) {
  if (!(flags & kMOXReachabilityFlagReachable)) return kMOXNetReachabilityStatusNotReachable;
  const bool automatic =
      flags & (kMOXReachabilityFlagConnectionOnTraffic | kMOXReachabilityFlagConnectionOnDemand);
  if ((flags & kMOXReachabilityFlagConnectionRequired) &&
      (!automatic || (flags & kMOXReachabilityFlagInterventionRequired))) {
    return kMOXNetReachabilityStatusNotReachable;
  }
  return (flags & kMOXReachabilityFlagIsWWAN) ? kMOXNetReachabilityStatusReachableViaWWAN
                                              : kMOXNetReachabilityStatusReachableViaWiFi;
}

std::shared_ptr<MOXNetReachability> MOXNetReachability::create(
    std::string host, MOXReachabilityWatcherFactory factory) {
  if (!factory) factory = Platform::current()->reachability;
  return std::shared_ptr<MOXNetReachability>(
      new MOXNetReachability(std::move(host), std::move(factory)));
}

MOXNetReachability::MOXNetReachability(std::string host, MOXReachabilityWatcherFactory factory)
    : host_(std::move(host)), factory_(std::move(factory)) {}

MOXNetReachability::~MOXNetReachability() {
  stop();
}

bool MOXNetReachability::start() {
  {
    MutexLock lock(mu_);
    if (watcher_ || starting_) return false;
    starting_ = true;
  }
  // Started outside the lock: a watcher may report at once, and reports read `statusChange`.
  std::unique_ptr<MOXReachabilityWatcher> watcher =
      factory_ ? factory_(host_, Platform::current()->mainLoop) : nullptr;
  std::weak_ptr<MOXNetReachability> weakSelf = weak_from_this();
  const bool started = watcher && watcher->start([weakSelf](std::uint32_t flags) {
    if (auto self = weakSelf.lock()) self->reportFlags(flags);
  });
  if (!started) {
    if (watcher) watcher->stop();
    MutexLock lock(mu_);
    starting_ = false;
    return false;
  }
  MutexLock lock(mu_);
  starting_ = false;
  watcher_ = std::move(watcher);
  return true;
}

void MOXNetReachability::stop() {
  std::unique_ptr<MOXReachabilityWatcher> watcher;
  {
    MutexLock lock(mu_);
    watcher = std::move(watcher_);
  }
  if (watcher) watcher->stop();
}

void MOXNetReachability::reportFlags(std::uint32_t flags) {
  setReachabilityStatus(MOXNetReachabilityStatusFor(flags));
}

void MOXNetReachability::setReachabilityStatus(std::int32_t status) {
  // Held across the report so that two reporting threads cannot deliver their changes to
  // `statusChange` in the opposite order from the one they were stored in.
  MutexLock order(statusMu_);
  if (status_.exchange(status) == status) return;
  StatusChange change = statusChange();
  if (change) change(status);
}

void MOXNetReachability::setStatusChange(StatusChange statusChange) {
  MutexLock lock(mu_);
  statusChange_ = std::move(statusChange);
}

MOXNetReachability::StatusChange MOXNetReachability::statusChange() const {
  MutexLock lock(mu_);
  return statusChange_;
}

}  // namespace loomset
