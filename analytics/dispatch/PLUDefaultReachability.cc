// The library's reachability operations over the platform bundle's watchers: a watch of one host
// makes its watcher when it is scheduled on a loop, which the watcher delivers its flags on.

#include "Library/Util/platform/Mutex.h"
#include "analytics/dispatch/PLUReachabilityChecker.h"
#include "loomset/platform/EventLoop.h"

namespace loomset {
namespace {

class Watch final : public PLUReachabilityHandle {
 public:
  Watch(std::string host, MOXReachabilityWatcherFactory factory)
      : host_(std::move(host)), factory_(std::move(factory)) {}

  void setCallback(PLUReachabilityApi::Callback callback) {
    MutexLock lock(mu_);
    callback_ = std::move(callback);
  }

  bool schedule(const std::shared_ptr<EventLoop>& loop) {
    MutexLock lock(mu_);
    if (watcher_ || !callback_ || !factory_) return false;
    auto watcher = factory_(host_, loop);
    if (!watcher) return false;
    if (!watcher->start(callback_)) {
      watcher->stop();
      return false;
    }
    watcher_ = std::move(watcher);
    return true;
  }

  void unschedule() {
    std::unique_ptr<MOXReachabilityWatcher> watcher;
    {
      MutexLock lock(mu_);
      watcher = std::move(watcher_);
    }
    if (watcher) watcher->stop();
  }

 private:
  const std::string host_;
  const MOXReachabilityWatcherFactory factory_;
  Mutex mu_;
  PLUReachabilityApi::Callback callback_ GUARDED_BY(mu_);
  std::unique_ptr<MOXReachabilityWatcher> watcher_ GUARDED_BY(mu_);
};

std::shared_ptr<Watch> asWatch(const PLUReachabilityApi::Handle& handle) {
  return std::dynamic_pointer_cast<Watch>(handle);
}

}  // namespace

PLUReachabilityApi plu_reachabilityApiOverWatchers(MOXReachabilityWatcherFactory factory) {
  return PLUReachabilityApi{
      [factory = std::move(factory)](const std::string& host) -> PLUReachabilityApi::Handle {
        return std::make_shared<Watch>(host, factory);
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
}

}  // namespace loomset
