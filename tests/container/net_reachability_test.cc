#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "Library/Util/platform/HostRouteWatcher.h"
#include "container/MOXNetReachability.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

constexpr std::uint32_t kReachable = kMOXReachabilityFlagReachable;
constexpr std::uint32_t kRequired = kMOXReachabilityFlagConnectionRequired;
constexpr std::uint32_t kOnTraffic = kMOXReachabilityFlagConnectionOnTraffic;
constexpr std::uint32_t kOnDemand = kMOXReachabilityFlagConnectionOnDemand;
constexpr std::uint32_t kIntervention = kMOXReachabilityFlagInterventionRequired;
constexpr std::uint32_t kWWAN = kMOXReachabilityFlagIsWWAN;

TEST(MOXNetReachability, FlagsMapToStatuses) {
  for (std::uint32_t flags : {0u, kWWAN, kRequired, kReachable | kRequired,
                              kReachable | kRequired | kOnTraffic | kIntervention,
                              kReachable | kRequired | kOnDemand | kIntervention | kWWAN}) {
    EXPECT_EQ(MOXNetReachabilityStatusFor(flags), kMOXNetReachabilityStatusNotReachable) << flags;
  }
  for (std::uint32_t flags : {kReachable, kReachable | kRequired | kOnTraffic,
                              kReachable | kRequired | kOnDemand, kReachable | kIntervention}) {
    EXPECT_EQ(MOXNetReachabilityStatusFor(flags), kMOXNetReachabilityStatusReachableViaWiFi)
        << flags;
  }
  for (std::uint32_t flags : {kReachable | kWWAN, kReachable | kWWAN | kRequired | kOnDemand}) {
    EXPECT_EQ(MOXNetReachabilityStatusFor(flags), kMOXNetReachabilityStatusReachableViaWWAN)
        << flags;
  }
}

// A watcher the test drives by hand.
// The reachability object owns (and destroys) its watcher; what the test inspects afterwards
// lives outside it.
struct FakeWatcher : MOXReachabilityWatcher {
  bool startResult = true;
  FlagsCallback callback;
  std::shared_ptr<int> stops = std::make_shared<int>(0);
  bool start(FlagsCallback cb) override {
    callback = std::move(cb);
    return startResult;
  }
  void stop() override { ++*stops; }
};

TEST(MOXNetReachability, ReportsOnlyChangesAndStartsOnce) {
  FakeWatcher* watcher = nullptr;
  testing::ScopedPlatform platform;
  auto reachability = MOXNetReachability::create(
      "example.test", [&](const std::string& host, std::shared_ptr<EventLoop> loop) {
        EXPECT_EQ(host, "example.test");
        EXPECT_EQ(loop, platform.platform()->mainLoop);  // flags are delivered on the main loop
        auto w = std::make_unique<FakeWatcher>();
        watcher = w.get();
        return w;
      });
  std::vector<std::int32_t> changes;
  reachability->setStatusChange([&](std::int32_t s) { changes.push_back(s); });
  EXPECT_EQ(reachability->reachabilityStatus(), kMOXNetReachabilityStatusUnknown);

  ASSERT_TRUE(reachability->start());
  EXPECT_FALSE(reachability->start());
  watcher->callback(kReachable);
  watcher->callback(kReachable | kMOXReachabilityFlagIsDirect);  // same status
  watcher->callback(0);
  watcher->callback(kReachable | kWWAN);
  EXPECT_EQ(changes, (std::vector<std::int32_t>{2, 1, 3}));
  EXPECT_EQ(reachability->reachabilityStatus(), 3);

  const auto stops = watcher->stops;
  reachability->stop();
  EXPECT_EQ(*stops, 1);
  // Stopped, it can be started again with a new watcher.
  EXPECT_TRUE(reachability->start());
}

TEST(MOXNetReachability, StartFailsWhenTheHostCannotBeWatched) {
  auto none = MOXNetReachability::create("h", [](const std::string&, std::shared_ptr<EventLoop>) {
    return std::unique_ptr<MOXReachabilityWatcher>();
  });
  EXPECT_FALSE(none->start());

  std::shared_ptr<int> stops;
  auto refusing =
      MOXNetReachability::create("h", [&](const std::string&, std::shared_ptr<EventLoop>) {
        auto w = std::make_unique<FakeWatcher>();
        w->startResult = false;
        stops = w->stops;
        return w;
      });
  EXPECT_FALSE(refusing->start());
  EXPECT_EQ(*stops, 1);  // a watcher that failed to start is stopped and dropped

  testing::ScopedPlatform platform;
  EXPECT_FALSE(MOXNetReachability::create("")->start());
}

TEST(HostRouteWatcher, SeesLoopbackAsReachableOnTheMainLoop) {
  EXPECT_TRUE(HostRouteWatcher::probe("localhost") & kReachable);
  EXPECT_EQ(HostRouteWatcher::probe(""), 0u);

  testing::ScopedPlatform platform;
  auto reachability = MOXNetReachability::create("localhost");
  std::vector<std::int32_t> changes;
  bool onMain = false;
  reachability->setStatusChange([&](std::int32_t s) {
    onMain = platform.mainLoop().isCurrent();
    changes.push_back(s);
  });
  ASSERT_TRUE(reachability->start());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (changes.empty() && std::chrono::steady_clock::now() < deadline) {
    platform.runUntilIdle();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  reachability->stop();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], kMOXNetReachabilityStatusReachableViaWiFi);
  EXPECT_TRUE(onMain);
}

}  // namespace
}  // namespace loomset
