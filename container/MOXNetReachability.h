// Watches whether one host can be reached, and reports each change of status.
//
// The platform's watcher (by default `HostRouteWatcher`, which resolves the host and checks for a
// route to it) reports reachability flags; they map to a status by `MOXNetReachabilityStatusFor`
// and `statusChange` is called when the status differs from the last one. Tests drive the
// status directly with `reportFlags` or `setReachabilityStatus`.
//
// Threads: `start`, `stop` and the setters may be called from any thread. Flags reported by the
// default watcher arrive on the main loop of the platform in force at `start`, and
// `statusChange` runs on the thread that reports.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace loomset {

enum MOXNetReachabilityStatus : std::int32_t {
  kMOXNetReachabilityStatusUnknown = 0,  // nothing reported yet
  kMOXNetReachabilityStatusNotReachable = 1,
  kMOXNetReachabilityStatusReachableViaWiFi = 2,  // reachable, not over the cellular network
  kMOXNetReachabilityStatusReachableViaWWAN = 3,  // reachable over the cellular network
};

// Reachability flags, with the platform's values.
inline constexpr std::uint32_t kMOXReachabilityFlagTransientConnection = 1u << 0;
inline constexpr std::uint32_t kMOXReachabilityFlagReachable = 1u << 1;
inline constexpr std::uint32_t kMOXReachabilityFlagConnectionRequired = 1u << 2;
inline constexpr std::uint32_t kMOXReachabilityFlagConnectionOnTraffic = 1u << 3;
inline constexpr std::uint32_t kMOXReachabilityFlagInterventionRequired = 1u << 4;
inline constexpr std::uint32_t kMOXReachabilityFlagConnectionOnDemand = 1u << 5;
inline constexpr std::uint32_t kMOXReachabilityFlagIsLocalAddress = 1u << 16;
inline constexpr std::uint32_t kMOXReachabilityFlagIsDirect = 1u << 17;
inline constexpr std::uint32_t kMOXReachabilityFlagIsWWAN = 1u << 18;

MOXNetReachabilityStatus MOXNetReachabilityStatusFor(std::uint32_t flags);

// The platform service that observes one host. `start` answers false when it cannot observe.
class MOXReachabilityWatcher {
 public:
  using FlagsCallback = std::function<void(std::uint32_t flags)>;
  virtual ~MOXReachabilityWatcher() = default;
  virtual bool start(FlagsCallback callback) = 0;
  // No callback runs after `stop` returns, except one already running on another thread.
  virtual void stop() = 0;
};

// Makes the watcher for a host; nothing when none can be made for it.
using MOXReachabilityWatcherFactory =
    std::function<std::unique_ptr<MOXReachabilityWatcher>(const std::string& host)>;

class MOXNetReachability : public std::enable_shared_from_this<MOXNetReachability> {
 public:
  using StatusChange = std::function<void(std::int32_t status)>;

  // With no factory, the default watcher of this system is used.
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

  mutable std::mutex mu_;
  std::unique_ptr<MOXReachabilityWatcher> watcher_;  // guarded by mu_
  bool starting_ = false;                            // guarded by mu_
  StatusChange statusChange_;                        // guarded by mu_
  std::mutex statusMu_;                              // orders status changes and their reports
  std::atomic<std::int32_t> status_{kMOXNetReachabilityStatusUnknown};
};

}  // namespace loomset
