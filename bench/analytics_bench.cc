// Costs on the application's thread: sending a hit up to the dispatcher hand-off, and building
// the hit map with every computed field.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>

#include "analytics/PLUTrackerImpl.h"
#include "analytics/dispatch/PLUDispatcher.h"
#include "analytics/model/PLUModelEnvironment.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/Platform.h"

namespace loomset {
namespace {

// Moves two seconds per reading, so the rate limit never throttles the measured hits.
class SteppingClock final : public Clock {
 public:
  double nowMillis() const override {
    return 1700000000000.0 + 2000.0 * static_cast<double>(steps_.fetch_add(1) + 1);
  }
  std::chrono::steady_clock::time_point monotonicNow() const override {
    return std::chrono::steady_clock::now();
  }

 private:
  mutable std::atomic<long long> steps_{0};
};

// Takes the model and drops it: the measured path ends at the hand-off.
class DiscardingDispatcher final : public PLUDispatcher {
 public:
  explicit DiscardingDispatcher(std::shared_ptr<RandomSource> random)
      : properties_(std::make_shared<PLUMemoryClientProperties>(std::move(random))) {}
  void queueModel(PLUTrackerModel model) override { benchmark::DoNotOptimize(model); }
  void dispatch() override {}
  void dispatchWithCompletionHandler(Completion) override {}
  double dispatchInterval() override { return 120; }
  void setDispatchInterval(double) override {}
  bool optOut() override { return false; }
  void setOptOut(bool) override {}
  void setDryRun(bool) override {}
  std::shared_ptr<PLUClientProperties> dataStore() override { return properties_; }

 private:
  std::shared_ptr<PLUClientProperties> properties_;
};

std::shared_ptr<const PLUModelEnvironment> makeEnvironment(bool withAdId) {
  auto platform = std::make_shared<Platform>(*Platform::systemDefault());
  platform->clock = std::make_shared<SteppingClock>();
  platform->application.name = "Bench";
  platform->application.identifier = "org.loomset.bench";
  platform->application.shortVersion = "1.0";
  platform->device.preferredLanguages = {"en-US"};
  platform->device.screenWidth = 1024;
  platform->device.screenHeight = 768;
  std::shared_ptr<PLUAdvertisingIdAccess> access;
  if (withAdId) {
    access = std::make_shared<PLUAdvertisingIdAccess>();
    access->retrieveId = []() -> std::optional<std::string> {
      return "6D92078A-8246-4BA4-AE5B-76104861E7DC";
    };
    access->retrieveTrackingFlag = [] { return true; };
  }
  return PLUModelEnvironment::create(platform, access);
}

PLUHitMap tenFieldEvent() {
  return PLUHitMap{{"&t", "event"}, {"&ec", "checkout"},      {"&ea", "tap"}, {"&el", "pay-button"},
                   {"&ev", "42"},   {"&cd", "Cart"},          {"&ni", "0"},   {"&cd1", "gold"},
                   {"&cm1", "3"},   {"&dp", "/cart/checkout"}};
}

void BM_SendEventHit(benchmark::State& state) {
  auto environment = makeEnvironment(false);
  auto dispatcher = std::make_shared<DiscardingDispatcher>(environment->platform().random);
  auto tracker = PLUTrackerImpl::trackerWithDispatcher(dispatcher, "bench", environment);
  tracker->plu_set(kPLUTrackingId, "UA-BENCH-1");
  tracker->plu_set(kPLUUserId, "user-17");
  const PLUHitMap hit = tenFieldEvent();
  for (auto _ : state) tracker->send(hit);
}
BENCHMARK(BM_SendEventHit);

void BM_BuildDictionaryAllComputedFields(benchmark::State& state) {
  auto environment = makeEnvironment(true);
  auto dispatcher = std::make_shared<DiscardingDispatcher>(environment->platform().random);
  PLUTrackerModel model(dispatcher->dataStore(), environment);
  model.setAllowIDFACollection(true);
  model.setValue(std::string("UA-BENCH-1"), kPLUTrackingId);
  PLUTrackerModel hitModel = model.copyWithOverride(tenFieldEvent());
  for (auto _ : state) benchmark::DoNotOptimize(hitModel.buildDictionary());
}
BENCHMARK(BM_BuildDictionaryAllComputedFields);

}  // namespace
}  // namespace loomset
