// A reachability watch for the analytics benchmarks that never reports, so the collector on
// 127.0.0.1 counts as reachable throughout.
#pragma once

#include <memory>
#include <string>

#include "analytics/dispatch/PLUReachabilityChecker.h"
#include "loomset/platform/EventLoop.h"

namespace loomset::bench {

inline PLUReachabilityApi silentReachabilityWatch() {
  struct Watch final : PLUReachabilityHandle {};
  PLUReachabilityApi api;
  api.createWithName = [](const std::string&) { return std::make_shared<Watch>(); };
  api.setCallback = [](const PLUReachabilityApi::Handle&, PLUReachabilityApi::Callback) {
    return true;
  };
  api.scheduleWithRunLoop = [](const PLUReachabilityApi::Handle&,
                               const std::shared_ptr<EventLoop>&) { return true; };
  api.unscheduleFromRunLoop = [](const PLUReachabilityApi::Handle&,
                                 const std::shared_ptr<EventLoop>&) { return true; };
  api.release = [](const PLUReachabilityApi::Handle&) {};
  return api;
}

}  // namespace loomset::bench
