// Pieces the analytics benchmarks share: a batching dispatcher that dispatches only when asked and
// never hears from reachability, and one typical event hit.
#pragma once

#include <memory>
#include <string>

#include "SilentReachability.h"
#include "analytics/dispatch/PLUBatchingDispatcher.h"
#include "analytics/model/PLUModelEnvironment.h"
#include "analytics/model/PLUTrackerModel.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/Platform.h"

namespace loomset::bench {

inline std::shared_ptr<PLUBatchingDispatcher> quietDispatcher(
    const std::shared_ptr<Platform>& platform, const std::shared_ptr<PLUDataStore>& store,
    const PLUCollectorEndpoints& endpoints) {
  PLUBatchingDispatcher::Options options;
  options.context.platform = platform;
  options.context.hitStore = store;
  options.context.endpoints = endpoints;
  options.reachabilityApi = silentReachabilityWatch();
  auto dispatcher = PLUBatchingDispatcher::create(std::move(options));
  dispatcher->setDispatchInterval(0);  // measured dispatches only
  return dispatcher;
}

// Endpoints nobody listens on, for dispatchers that only store.
inline PLUCollectorEndpoints unreachableEndpoints() {
  PLUCollectorEndpoints endpoints;
  endpoints.plainBaseUrl = endpoints.secureBaseUrl = "http://127.0.0.1:9";
  return endpoints;
}

// A typical event hit of `trackingId`, its label and value varying with `n`.
inline PLUTrackerModel typicalEventHit(
    const std::shared_ptr<PLUDataStore>& store,
    const std::shared_ptr<const PLUModelEnvironment>& environment, const std::string& trackingId,
    int n) {
  PLUTrackerModel model(store, environment);
  model.setValue(trackingId, kPLUTrackingId);
  model.setValue(std::string(".nL"), kPLUUsageTracking);
  return model.copyWithOverride({{kPLUHitType, std::string("event")},
                                 {kPLUEventCategory, std::string("video")},
                                 {kPLUEventAction, std::string("play")},
                                 {kPLUEventLabel, "clip " + std::to_string(n)},
                                 {kPLUEventValue, std::to_string(n % 100)}});
}

}  // namespace loomset::bench
