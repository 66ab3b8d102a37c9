#include "analytics/dispatch/PLUReachabilityChecker.h"

#include <cstdio>

#include "analytics/PLULog.h"
#include "loomset/platform/EventLoop.h"
#include "loomset/platform/Platform.h"

namespace loomset {

std::string PLUReachabilityStatusString(std::int32_t status) {
  switch (status) {
    case kPLUReachabilityUnknown:
      return "Reachability Unknown";
    case kPLUReachabilityNotReachable:
      return "Not reachable";
    case kPLUReachabilityViaWifi:
      return "Reachable via Wifi";
    case kPLUReachabilityViaCellular:
      return "Reachable via Cellular Data";
    default:
      return "Invalid reachability status " + std::to_string(status);
  }
}

std::int32_t PLUReachabilityChecker::statusForFlags(std::uint32_t flags) {
  if (!(flags & kPLUReachabilityFlagReachable)) return kPLUReachabilityNotReachable;
  if (flags & kPLUReachabilityFlagConnectionRequired) {
    const bool automatic =
        flags & (kPLUReachabilityFlagConnectionOnTraffic | kPLUReachabilityFlagConnectionOnDemand);
    if (!automatic || (flags & kPLUReachabilityFlagInterventionRequired)) {
      return kPLUReachabilityNotReachable;
    }
  }
  return (flags & kPLUReachabilityFlagIsWWAN) ? kPLUReachabilityViaCellular
                                              : kPLUReachabilityViaWifi;
}

std::shared_ptr<PLUReachabilityChecker> PLUReachabilityChecker::create(
    std::weak_ptr<PLUReachabilityDelegate> delegate, const std::string& host,
    std::shared_ptr<const Platform> platform) {
  if (host.empty()) {
    PLU_LOG_ERROR("Invalid host specified.");
    return nullptr;
  }
  if (!platform) platform = Platform::current();
  return std::make_shared<PLUReachabilityChecker>(Passkey(), std::move(delegate), host,
                                                  std::move(platform));
}

PLUReachabilityChecker::PLUReachabilityChecker(Passkey,
                                               std::weak_ptr<PLUReachabilityDelegate> delegate,
                                               std::string host,
                                               std::shared_ptr<const Platform> platform)
    : host_(std::move(host)),
      platform_(std::move(platform)),
      delegate_(std::move(delegate)),
      api_(plu_reachabilityApiOverWatchers(platform_->reachability)) {}

PLUReachabilityChecker::~PLUReachabilityChecker() {
  setDelegate({});
  stop();
}

bool PLUReachabilityChecker::start() {
  MutexLock lock(mu_);
  if (handle_) return true;
  std::shared_ptr<EventLoop> loop = platform_->mainLoop;
  if (!loop || !api_.createWithName) return false;
  PLUReachabilityApi::Handle handle = api_.createWithName(host_);
  if (!handle) return false;
  std::weak_ptr<PLUReachabilityChecker> weakSelf = weak_from_this();
  const auto callback = [weakSelf](std::uint32_t flags) {
    if (auto self = weakSelf.lock()) self->reachabilityFlagsChanged(flags);
  };
  if (!api_.setCallback(handle, callback) || !api_.scheduleWithRunLoop(handle, loop)) {
    api_.release(handle);
    return false;
  }
  handle_ = std::move(handle);
  loop_ = std::move(loop);
  return true;
}

void PLUReachabilityChecker::stop() {
  PLUReachabilityApi::Handle handle;
  std::shared_ptr<EventLoop> loop;
  PLUReachabilityApi api;
  {
    MutexLock lock(mu_);
    if (!handle_) return;
    status_ = kPLUReachabilityUnknown;
    handle = std::move(handle_);
    loop = std::move(loop_);
    handle_.reset();
    loop_.reset();
    api = api_;
  }
  api.unscheduleFromRunLoop(handle, loop);
  api.release(handle);
}

bool PLUReachabilityChecker::isActive() const {
  MutexLock lock(mu_);
  return handle_ != nullptr;
}

std::int32_t PLUReachabilityChecker::reachabilityStatus() const {
  MutexLock lock(mu_);
  return status_;
}

void PLUReachabilityChecker::setDelegate(std::weak_ptr<PLUReachabilityDelegate> delegate) {
  MutexLock lock(mu_);
  delegate_ = std::move(delegate);
}

void PLUReachabilityChecker::setReachabilityApi(PLUReachabilityApi api) {
  MutexLock lock(mu_);
  if (handle_) {
    PLU_LOG_ERROR("Cannot change reachability API while reachability running; call stop first.");
    return;
  }
  api_ = std::move(api);
}

void PLUReachabilityChecker::reachabilityFlagsChanged(std::uint32_t flags) {
  if (plu_log::enabled(kPLULogLevelInfo)) {
    char text[16];
    std::snprintf(text, sizeof text, "%#08X", flags);
    PLU_LOG_INFO(std::string("Reachability flags update: ") + text);
  }
  const std::int32_t status = statusForFlags(flags);
  std::shared_ptr<PLUReachabilityDelegate> delegate;
  {
    MutexLock lock(mu_);
    if (status == status_) return;
    status_ = status;
    delegate = delegate_.lock();
  }
  if (delegate) delegate->reachability(*this, status);
}

}  // namespace loomset
