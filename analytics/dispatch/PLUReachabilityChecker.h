// Watches whether the collection host can be reached, so the dispatcher sends only when it can.
// The platform operations (create a watch for a host, set its callback, schedule it on a loop,
// unschedule, release) form a replaceable table; the default one is made over the reachability
// watchers of the platform bundle, and tests drive `reachabilityFlagsChanged` directly.
//
// Threads: start, stop and the setters from any thread. Flag changes arrive on the bundle's main
// loop, and the delegate is told there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "loomset/platform/ReachabilityWatcher.h"

namespace loomset {

class EventLoop;
struct Platform;
class PLUReachabilityChecker;

// The platform's reachability flag bits.
enum PLUReachabilityFlags : std::uint32_t {
  kPLUReachabilityFlagReachable = 0x2,
  kPLUReachabilityFlagConnectionRequired = 0x4,
  kPLUReachabilityFlagConnectionOnTraffic = 0x8,
  kPLUReachabilityFlagInterventionRequired = 0x10,
  kPLUReachabilityFlagConnectionOnDemand = 0x20,
  kPLUReachabilityFlagIsWWAN = 0x40000,
};

enum PLUReachabilityStatus : std::int32_t {
  kPLUReachabilityUnknown = 0,
  kPLUReachabilityNotReachable = 1,
  kPLUReachabilityViaWifi = 2,
  kPLUReachabilityViaCellular = 3,
};

std::string PLUReachabilityStatusString(std::int32_t status);

class PLUReachabilityDelegate {
 public:
  virtual ~PLUReachabilityDelegate() = default;
  virtual void reachability(PLUReachabilityChecker& checker, std::int32_t status) = 0;
};

// An opaque watch of one host.
class PLUReachabilityHandle {
 public:
  virtual ~PLUReachabilityHandle() = default;
};

struct PLUReachabilityApi {
  using Handle = std::shared_ptr<PLUReachabilityHandle>;
  using Callback = std::function<void(std::uint32_t flags)>;

  // Null when the host cannot be watched.
  std::function<Handle(const std::string& host)> createWithName;
  std::function<bool(const Handle&, Callback)> setCallback;
  std::function<bool(const Handle&, const std::shared_ptr<EventLoop>&)> scheduleWithRunLoop;
  std::function<bool(const Handle&, const std::shared_ptr<EventLoop>&)> unscheduleFromRunLoop;
  std::function<void(const Handle&)> release;
};

// The table over a factory of the platform's watchers (by default host-route watchers, which
// resolve the host and check for a route to it): each watch reports the first result and every
// change on the loop it is scheduled on.
PLUReachabilityApi plu_reachabilityApiOverWatchers(MOXReachabilityWatcherFactory factory);

class PLUReachabilityChecker : public std::enable_shared_from_this<PLUReachabilityChecker> {
 public:
  // Null, with the error "Invalid host specified." logged, for an empty host. Watches with the
  // platform bundle's watchers and delivers on its main loop (the bundle in force when null).
  static std::shared_ptr<PLUReachabilityChecker> create(
      std::weak_ptr<PLUReachabilityDelegate> delegate, const std::string& host,
      std::shared_ptr<const Platform> platform = nullptr);
  ~PLUReachabilityChecker();

  // True when watching (already, or from now on).
  bool start();
  void stop();
  bool isActive() const;

  std::int32_t reachabilityStatus() const;
  const std::string& host() const { return host_; }
  void setDelegate(std::weak_ptr<PLUReachabilityDelegate> delegate);
  // Refused, with a log line, while running.
  void setReachabilityApi(PLUReachabilityApi api);

  // The platform's callback: logs the flags and tells the delegate when the status changed.
  void reachabilityFlagsChanged(std::uint32_t flags);

  static std::int32_t statusForFlags(std::uint32_t flags);

  struct Passkey {
   private:
    Passkey() = default;
    friend class PLUReachabilityChecker;
  };
  PLUReachabilityChecker(Passkey, std::weak_ptr<PLUReachabilityDelegate> delegate, std::string host,
                         std::shared_ptr<const Platform> platform);

 private:
  const std::string host_;
  const std::shared_ptr<const Platform> platform_;

  mutable Mutex mu_;
  std::weak_ptr<PLUReachabilityDelegate> delegate_ GUARDED_BY(mu_);
  PLUReachabilityApi api_ GUARDED_BY(mu_);
  PLUReachabilityApi::Handle handle_ GUARDED_BY(mu_);
  std::shared_ptr<EventLoop> loop_ GUARDED_BY(mu_);
  std::int32_t status_ GUARDED_BY(mu_) = kPLUReachabilityUnknown;
};

}  // namespace loomset
