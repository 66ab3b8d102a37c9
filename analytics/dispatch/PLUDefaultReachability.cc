// The library's reachability operations: the container half's host-route watcher, which resolves
// the host and asks the kernel for a route to it, delivering flags on the loop it is scheduled on.

#include "Library/Util/platform/Mutex.h"
#include "analytics/dispatch/PLUReachabilityChecker.h"
#include "Library/Util/platform/HostRouteWatcher.h"
#include "loomset/platform/EventLoop.h"

namespace loomset {
namespace {

class RouteWatch final : public PLUReachabilityHandle {
 public:
  explicit RouteWatch(std::string host) : host_(std::move(host)) {}

  void setCallback(PLUReachabilityApi::Callback callback) {
    MutexLock lock(mu_);
    callback_ = std::move(callback);
  }

  bool schedule(const std::shared_ptr<EventLoop>& loop) {
    MutexLock lock(mu_);
    if (watcher_ || !callback_) return false;
    auto watcher = std::make_unique<HostRouteWatcher>(host_, loop);
    if (!watcher->start(callback_)) return false;
    watcher_ = std::move(watcher);
    return true;
  }

  void unschedule() {
    std::unique_ptr<HostRouteWatcher> watcher;
    {
      MutexLock lock(mu_);
      watcher = std::move(watcher_);
    }
    if (watcher) watcher->stop();
  }

 private:
  const std::string host_;
  Mutex mu_;
  PLUReachabilityApi::Callback callback_ GUARDED_BY(mu_);
  std::unique_ptr<HostRouteWatcher> watcher_ GUARDED_BY(mu_);
};

std::shared_ptr<RouteWatch> asWatch(const PLUReachabilityApi::Handle& handle) {
  return std::dynamic_pointer_cast<RouteWatch>(handle);
}

}  // namespace

const PLUReachabilityApi& kDefaultReachabilityApi() {
  static const PLUReachabilityApi api{
      [](const std::string& host) -> PLUReachabilityApi::Handle {
        return std::make_shared<RouteWatch>(host);
      },
      [](const PLUReachabilityApi::Handle& handle, PLUReachabilityApi::Callback callback) {
        auto watch = asWatch(handle);
        if (!watch) return false;
        watch->setCallback(std::move(callback));
        return true;
      },
      [](const PLUReachabilityApi::Handle& handle, const std::shared_ptr<EventLoop>& loop) {
        auto watch = asWatch(handle);
        return watch && loop && watch->schedule(loop);
      },
      [](const PLUReachabilityApi::Handle& handle, const std::shared_ptr<EventLoop>&) {
        auto watch = asWatch(handle);
        if (!watch) return false;
        watch->unschedule();
        return true;
      },
      [](const PLUReachabilityApi::Handle& handle) {
        if (auto watch = asWatch(handle)) watch->unschedule();
      },
  };
  return api;
}

}  // namespace loomset
