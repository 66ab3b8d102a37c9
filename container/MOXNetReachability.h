// Watches whether one host can be reached, and reports each change of status.
//
// The platform bundle's watcher (by default `HostRouteWatcher`, which resolves the host and checks
// for a route to it) reports reachability flags; they map to a status by
// `MOXNetReachabilityStatusFor` and `statusChange` is called when the status differs from the last
// one. Tests drive the status directly with `reportFlags` or `setReachabilityStatus`.
//
// Threads: `start`, `stop` and the setters may be called from any thread. Watchers are made at
// `start` to deliver their flags on the main loop of the platform in force then, and
// `statusChange` runs on the thread that reports.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "loomset/platform/ReachabilityWatcher.h"

namespace loomset {

enum MOXNetReachabilityStatus : std::int32_t {
  kMOXNetReachabilityStatusUnknown = 0,  // nothing reported yet
  kMOXNetReachabilityStatusNotReachable = 1,
  kMOXNetReachabilityStatusReachableViaWiFi = 2,  // reachable, not over the cellular network
  kMOXNetReachabilityStatusReachableViaWWAN = 3,  // reachable over the cellular network
};

MOXNetReachabilityStatus MOXNetReachabilityStatusFor(std::uint32_t flags);

class MOXNetReachability : public std::enable_shared_from_this<MOXNetReachability> {
 public:
  using StatusChange = std::function<void(std::int32_t status)>;

  // With no factory, the watchers of the platform bundle in force are used.
  static std::shared_ptr<MOXNetReachability> create(std::string host,
                                                    MOXReachabilityWatcherFactory factory = {});
  ~MOXNetReachability();
  MOXNetReachability(const MOXNetReachability&) = delete;
  MOXNetReachability& operator=(const MOXNetReachability&) = delete;

  const std::string& host() const { return host_; }
  // False when already started or when the host cannot be watched.
  bool start();
  void stop();

  std::int32_t reachabilityStatus() const { return status_.load(); }
  // Stores the status and calls `statusChange` with it, unless it is unchanged.
  void setReachabilityStatus(std::int32_t status);
  // The watcher's callback: maps the flags and sets the status.
  void reportFlags(std::uint32_t flags);

  void setStatusChange(StatusChange statusChange);
  StatusChange statusChange() const;

 private:
  MOXNetReachability(std::string host, MOXReachabilityWatcherFactory factory);

  const std::string host_;
  const MOXReachabilityWatcherFactory factory_;

  mutable Mutex mu_;
  std::unique_ptr<MOXReachabilityWatcher> watcher_ GUARDED_BY(mu_);
  bool starting_ GUARDED_BY(mu_) = false;
  StatusChange statusChange_ GUARDED_BY(mu_);
  // Orders status changes and their reports; taken before mu_.
  Mutex statusMu_ ACQUIRED_BEFORE(mu_);
  std::atomic<std::int32_t> status_{kMOXNetReachabilityStatusUnknown};
};

}  // namespace loomset
