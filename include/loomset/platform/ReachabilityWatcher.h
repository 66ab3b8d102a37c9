// The platform service that watches whether one host can be reached: it reports reachability
// flags (with the platform's values) whenever they change. The platform bundle carries the
// factory that makes watchers (`Platform::reachability`); the default on Linux is a host-route
// watcher, and tests and applications may hand in their own.
//
// Threads: a watcher's callback runs on the loop its factory was given; `stop` may be called from
// any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "loomset/Export.h"

namespace loomset {

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

// The platform service that observes one host. `start` answers false when it cannot observe.
class LOOMSET_EXPORT MOXReachabilityWatcher {
 public:
  using FlagsCallback = std::function<void(std::uint32_t flags)>;
  virtual ~MOXReachabilityWatcher() = default;
  virtual bool start(FlagsCallback callback) = 0;
  // No callback runs after `stop` returns, except one already running on another thread.
  virtual void stop() = 0;
};

class EventLoop;

// Makes the watcher for a host, delivering its flags on `deliveryLoop`; nothing when none can be
// made for it.
using MOXReachabilityWatcherFactory = std::function<std::unique_ptr<MOXReachabilityWatcher>(
    const std::string& host, std::shared_ptr<EventLoop> deliveryLoop)>;

}  // namespace loomset
