// The reachability checker over a scripted operation table.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "analytics/dispatch/PLUReachabilityChecker.h"
#include "support/PLURecording.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

struct ScriptedApi {
  bool createFails = false;
  bool callbackFails = false;
  bool scheduleFails = false;
  std::vector<std::string> calls;
  PLUReachabilityApi::Callback callback;

  PLUReachabilityApi table() {
    PLUReachabilityApi api;
    api.createWithName = [this](const std::string& host) -> PLUReachabilityApi::Handle {
      calls.push_back("create " + host);
      return createFails ? nullptr : std::make_shared<PLUReachabilityHandle>();
    };
    api.setCallback = [this](const PLUReachabilityApi::Handle&, PLUReachabilityApi::Callback cb) {
      calls.push_back("callback");
      callback = std::move(cb);
      return !callbackFails;
    };
    api.scheduleWithRunLoop = [this](const PLUReachabilityApi::Handle&,
                                     const std::shared_ptr<EventLoop>& loop) {
      calls.push_back("schedule " + loop->name());
      return !scheduleFails;
    };
    api.unscheduleFromRunLoop = [this](const PLUReachabilityApi::Handle&,
                                       const std::shared_ptr<EventLoop>& loop) {
      calls.push_back("unschedule " + loop->name());
      return true;
    };
    api.release = [this](const PLUReachabilityApi::Handle&) { calls.push_back("release"); };
    return api;
  }
};

struct RecordingDelegate : PLUReachabilityDelegate {
  std::vector<std::int32_t> statuses;
  void reachability(PLUReachabilityChecker&, std::int32_t status) override {
    statuses.push_back(status);
  }
};

TEST(PLUReachabilityChecker, StartStopAndStatusChanges) {
  testing::PLUTestFacade env;
  auto delegate = std::make_shared<RecordingDelegate>();
  EXPECT_EQ(PLUReachabilityChecker::create(delegate, ""), nullptr);
  EXPECT_TRUE(env.log().contains("Invalid host specified."));

  ScriptedApi script;
  auto checker = PLUReachabilityChecker::create(delegate, "collect.test");
  checker->setReachabilityApi(script.table());
  EXPECT_TRUE(checker->start());
  EXPECT_TRUE(checker->start());  // already running
  EXPECT_TRUE(checker->isActive());
  EXPECT_EQ(script.calls,
            (std::vector<std::string>{"create collect.test", "callback", "schedule loomset-main"}));

  checker->setReachabilityApi(ScriptedApi().table());
  EXPECT_TRUE(env.log().contains(
      "Cannot change reachability API while reachability running; call stop first."));

  script.callback(0x2);
  script.callback(0x2);  // unchanged: the delegate hears nothing
  script.callback(0x40002);
  script.callback(0x0);
  EXPECT_EQ(delegate->statuses, (std::vector<std::int32_t>{2, 3, 1}));
  EXPECT_EQ(checker->reachabilityStatus(), 1);
  EXPECT_TRUE(env.log().contains("Reachability flags update: 0X040002"));

  checker->stop();
  EXPECT_FALSE(checker->isActive());
  EXPECT_EQ(checker->reachabilityStatus(), 0);
  EXPECT_EQ(script.calls.back(), "release");
  EXPECT_EQ(script.calls[script.calls.size() - 2], "unschedule loomset-main");

  // A callback after the checker is gone reaches nobody.
  auto callback = script.callback;
  checker.reset();
  callback(0x2);
  EXPECT_EQ(delegate->statuses.size(), 3u);
}

TEST(PLUReachabilityChecker, FailedSetUpReleasesTheHandle) {
  testing::PLUTestFacade env;
  for (int failing = 0; failing < 3; ++failing) {
    ScriptedApi script;
    script.createFails = failing == 0;
    script.callbackFails = failing == 1;
    script.scheduleFails = failing == 2;
    auto checker = PLUReachabilityChecker::create({}, "collect.test");
    checker->setReachabilityApi(script.table());
    EXPECT_FALSE(checker->start()) << failing;
    EXPECT_FALSE(checker->isActive());
    if (failing > 0) EXPECT_EQ(script.calls.back(), "release") << failing;
  }
}

TEST(PLUReachabilityChecker, DefaultWatchReportsLoopbackAsReachable) {
  testing::PLUTestFacade env;
  auto delegate = std::make_shared<RecordingDelegate>();
  auto checker = PLUReachabilityChecker::create(delegate, "localhost");
  ASSERT_TRUE(checker->start());
  // The watch checks on a thread of its own and reports on the main loop.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (delegate->statuses.empty() && std::chrono::steady_clock::now() < deadline) {
    env.platform().runUntilIdle();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  checker->stop();
  EXPECT_EQ(delegate->statuses, (std::vector<std::int32_t>{2}));
}

// Without a table of its own, the checker watches with the platform bundle's watchers and hears
// them on the bundle's main loop.
TEST(PLUReachabilityChecker, WatchesWithTheWatchersOfItsPlatformBundle) {
  struct Watcher : MOXReachabilityWatcher {
    Watcher(FlagsCallback* sink, int* stops) : sink(sink), stops(stops) {}
    bool start(FlagsCallback callback) override {
      *sink = std::move(callback);
      return true;
    }
    void stop() override { ++*stops; }
    FlagsCallback* sink;
    int* stops;
  };
  std::vector<std::string> hosts;
  std::shared_ptr<EventLoop> deliveryLoop;
  MOXReachabilityWatcher::FlagsCallback flags;
  int stops = 0;
  testing::ScopedPlatform platform([&](Platform& p) {
    p.reachability = [&](const std::string& host, std::shared_ptr<EventLoop> loop) {
      hosts.push_back(host);
      deliveryLoop = std::move(loop);
      return std::make_unique<Watcher>(&flags, &stops);
    };
  });
  auto delegate = std::make_shared<RecordingDelegate>();
  auto checker = PLUReachabilityChecker::create(delegate, "collect.test", platform.platform());
  ASSERT_TRUE(checker->start());
  EXPECT_EQ(hosts, std::vector<std::string>{"collect.test"});
  EXPECT_EQ(deliveryLoop, platform.platform()->mainLoop);
  ASSERT_TRUE(flags);
  flags(kPLUReachabilityFlagReachable);
  flags(0);
  EXPECT_EQ(delegate->statuses,
            (std::vector<std::int32_t>{kPLUReachabilityViaWifi, kPLUReachabilityNotReachable}));
  checker->stop();
  EXPECT_EQ(stops, 1);
}

}  // namespace
}  // namespace loomset
