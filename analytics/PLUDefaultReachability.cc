// The library's reachability watch on Linux: a host counts as reachable while the machine has a
// network interface that is up, running and not a loopback one (a loopback host is always
// reachable). There is no cellular notion here.
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <mutex>

#include "analytics/PLUReachabilityChecker.h"
#include "loomset/platform/EventLoop.h"

namespace loomset {
namespace {

constexpr double kPollSeconds = 10.0;

bool isLoopbackHost(const std::string& host) {
  return host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

std::uint32_t currentFlags(const std::string& host) {
  if (isLoopbackHost(host)) return kPLUReachabilityFlagReachable;
  struct ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return 0;
  std::uint32_t flags = 0;
  for (struct ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr) continue;
    const int family = it->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    const unsigned required = IFF_UP | IFF_RUNNING;
    if ((it->ifa_flags & required) == required && !(it->ifa_flags & IFF_LOOPBACK)) {
      flags = kPLUReachabilityFlagReachable;
      break;
    }
  }
  freeifaddrs(list);
  return flags;
}

class InterfaceWatch final : public PLUReachabilityHandle {
 public:
  explicit InterfaceWatch(std::string host) : host_(std::move(host)) {}

  void setCallback(PLUReachabilityApi::Callback callback) {
    std::lock_guard<std::mutex> lock(mu_);
    callback_ = std::move(callback);
  }

  void schedule(EventLoop& loop, const std::shared_ptr<InterfaceWatch>& self) {
    std::weak_ptr<InterfaceWatch> weak = self;
    auto check = [weak] {
      if (auto watch = weak.lock()) watch->check();
    };
    loop.post(check);
    auto timer = loop.postRepeating(kPollSeconds, check);
    std::lock_guard<std::mutex> lock(mu_);
    timer_ = std::move(timer);
  }

  void unschedule() {
    std::shared_ptr<TimerHandle> timer;
    {
      std::lock_guard<std::mutex> lock(mu_);
      timer = std::move(timer_);
      callback_ = nullptr;
    }
    if (timer) timer->cancel();
  }

 private:
  void check() {
    const std::uint32_t flags = currentFlags(host_);
    PLUReachabilityApi::Callback callback;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (reported_ && flags == lastFlags_) return;
      reported_ = true;
      lastFlags_ = flags;
      callback = callback_;
    }
    if (callback) callback(flags);
  }

  const std::string host_;
  std::mutex mu_;
  PLUReachabilityApi::Callback callback_;  // guarded by mu_, like the fields below
  std::shared_ptr<TimerHandle> timer_;
  bool reported_ = false;
  std::uint32_t lastFlags_ = 0;
};

std::shared_ptr<InterfaceWatch> asWatch(const PLUReachabilityApi::Handle& handle) {
  return std::dynamic_pointer_cast<InterfaceWatch>(handle);
}

}  // namespace

const PLUReachabilityApi& kDefaultReachabilityApi() {
  static const PLUReachabilityApi api{
      [](const std::string& host) -> PLUReachabilityApi::Handle {
        return std::make_shared<InterfaceWatch>(host);
      },
      [](const PLUReachabilityApi::Handle& handle, PLUReachabilityApi::Callback callback) {
        auto watch = asWatch(handle);
        if (!watch) return false;
        watch->setCallback(std::move(callback));
        return true;
      },
      [](const PLUReachabilityApi::Handle& handle, EventLoop& loop) {
        auto watch = asWatch(handle);
        if (!watch) return false;
        watch->schedule(loop, watch);
        return true;
      },
      [](const PLUReachabilityApi::Handle& handle, EventLoop&) {
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
