// The facade's own wiring end to end: a tracker from `PLU::sharedInstance()` sends a hit, the
// library's dispatcher stores it on the analytics worker thread, and a dispatch delivers it to a
// collector on 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "analytics/PLUContext.h"
#include "analytics/PLUInstanceControl.h"
#include "analytics/PLUInternal.h"
#include "analytics/PLULog.h"
#include "analytics/dispatch/PLUBatchingDispatcher.h"
#include "loomset/PLU.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/EventLoop.h"
#include "platform/WaitFor.h"
#include "support/FaultInjectingFileSystem.h"
#include "support/PLUCollector.h"
#include "support/RecordingHttpClient.h"

namespace loomset {
namespace {

using testing::PLUCollector;

// Points new facades at the collector and puts everything back afterwards.
class FacadeOverCollector {
 public:
  explicit FacadeOverCollector(std::function<void(Platform&)> customize = nullptr)
      : platform_(std::move(customize)), logger_(std::make_shared<testing::PLURecordingLogger>()) {
    PLUCollectorEndpoints::setShared(collector_.endpoints());
    plu_log::setSharedLogger(logger_);
    PLUInstanceControl::setDispatcherFactory(nullptr);
    PLUInstanceControl::resetSharedInstance();
  }
  ~FacadeOverCollector() {
    PLUInstanceControl::resetSharedInstance();
    // Let the worker finish with the store before the data directory goes away.
    PLUInternal::thread()->postAndWait([] {});
    PLUCollectorEndpoints::setShared(PLUCollectorEndpoints());
    plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
  }

  PLUCollector& collector() { return collector_; }
  testing::PLURecordingLogger& log() { return *logger_; }
  testing::ScopedPlatform& platform() { return platform_; }

  // Dispatches with a handler and waits for its outcome, running the main loop it arrives on.
  std::optional<PLUDispatchOutcome> dispatchAndWait(PLU& facade) {
    auto outcome = std::make_shared<std::optional<PLUDispatchOutcome>>();
    facade.dispatchWithCompletionHandler([outcome](PLUDispatchOutcome o) { *outcome = o; });
    testing::waitFor([&] {
      platform_.runUntilIdle();
      return outcome->has_value();
    });
    return *outcome;
  }

 private:
  PLUCollector collector_;
  testing::ScopedPlatform platform_;
  std::shared_ptr<testing::PLURecordingLogger> logger_;
};

TEST(PLUDispatcherFacade, TrackerHitsReachTheCollectorThroughTheLibrarysDispatcher) {
  FacadeOverCollector env;
  auto facade = PLU::sharedInstance();
  ASSERT_TRUE(std::dynamic_pointer_cast<PLUBatchingDispatcher>(PLUInternal::dispatcher(*facade)));
  EXPECT_FALSE(env.log().contains("Dispatcher initialization failed"));

  auto tracker = facade->trackerWithTrackingId("UA-42-1");
  ASSERT_TRUE(tracker);
  tracker->send({{"&t", "event"}, {"&ec", "checkout"}, {"&ea", "pay"}});
  tracker->send({{"&t", "screenview"}, {"&cd", "Basket"}});

  ASSERT_EQ(env.dispatchAndWait(*facade), kPLUDispatchSent);
  ASSERT_TRUE(testing::waitFor([&] { return env.collector().hits().size() == 2; }));

  const auto requests = env.collector().requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/batch");
  const auto hits = env.collector().hits();
  EXPECT_EQ(hits[0].at("t"), "event");
  EXPECT_EQ(hits[0].at("ec"), "checkout");
  EXPECT_EQ(hits[1].at("cd"), "Basket");
  for (const auto& hit : hits) {
    EXPECT_EQ(hit.at("tid"), "UA-42-1");
    EXPECT_EQ(hit.at("cid"), facade->clientId());
    EXPECT_EQ(hit.at("v"), "1");
    EXPECT_EQ(hit.at("_v"), "mi3.1.7");
    EXPECT_EQ(hit.at("an"), "LoomsetTests");
    EXPECT_TRUE(hit.count("z"));
    EXPECT_TRUE(hit.count("ht"));
  }
  EXPECT_EQ(hits[0].at("_s"), "0");
  EXPECT_EQ(hits[1].at("_s"), "1");
  EXPECT_EQ(facade->dispatchInterval(), -1);
}

TEST(PLUDispatcherFacade, OptOutAndDryRunReachTheLibrarysDispatcher) {
  FacadeOverCollector env;
  auto facade = PLU::sharedInstance();
  auto tracker = facade->trackerWithTrackingId("UA-42-2");
  ASSERT_TRUE(tracker);

  facade->setDryRun(true);
  tracker->send({{"&t", "event"}, {"&ec", "dry"}});
  EXPECT_EQ(env.dispatchAndWait(*facade), kPLUDispatchSent);
  facade->setDryRun(false);

  facade->setOptOut(true);
  tracker->send({{"&t", "event"}, {"&ec", "opted out"}});
  EXPECT_EQ(env.dispatchAndWait(*facade), kPLUDispatchNothingToSend);
  EXPECT_EQ(env.collector().requestCount(), 0u);
}

// What an application hands in through the platform bundle (its own transport, reachability
// watchers and file system) is what the facade's dispatcher and stores work with.
TEST(PLUDispatcherFacade, TheFacadeHandsTheServicesOfItsBundleDown) {
  using Operation = testing::FaultInjectingFileSystem::Operation;
  auto http = std::make_shared<testing::RecordingHttpClient>();
  auto files = std::make_shared<testing::FaultInjectingFileSystem>();
  struct Watcher : MOXReachabilityWatcher {
    bool start(FlagsCallback) override { return true; }
    void stop() override {}
  };
  std::mutex mu;
  std::vector<std::pair<std::string, std::shared_ptr<EventLoop>>> watched;  // guarded by mu
  FacadeOverCollector env([&](Platform& p) {
    p.http = http;
    p.fileSystem = files;
    p.reachability = [&](const std::string& host, std::shared_ptr<EventLoop> loop) {
      std::lock_guard<std::mutex> lock(mu);
      watched.emplace_back(host, std::move(loop));
      return std::make_unique<Watcher>();
    };
  });
  const auto& platform = env.platform().platform();
  auto facade = PLU::sharedInstance();
  const PLUContext& context = PLUInternal::context(*facade);
  EXPECT_EQ(context.platform, platform);
  EXPECT_EQ(context.worker, platform->analyticsWorker);
  EXPECT_EQ(context.endpoints.secureBaseUrl, env.collector().endpoints().secureBaseUrl);

  facade->trackerWithTrackingId("UA-42-3")->send({{"&t", "event"}, {"&ec", "own transport"}});
  EXPECT_EQ(env.dispatchAndWait(*facade), kPLUDispatchSent);

  const auto requests = http->requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].url.rfind(env.collector().endpoints().httpsUrl(), 0), 0u)
      << requests[0].url;
  EXPECT_EQ(env.collector().requestCount(), 0u);  // nothing went round the bundle's client
  {
    std::lock_guard<std::mutex> lock(mu);
    ASSERT_EQ(watched.size(), 1u);
    EXPECT_EQ(watched[0].first, env.collector().endpoints().secureHost());
    EXPECT_EQ(watched[0].second, platform->mainLoop);
  }
  // The user defaults were written, and the store's directory made, through the bundle's files.
  EXPECT_GT(files->calls(Operation::kNewTemporaryFile), 0);
  EXPECT_GT(files->calls(Operation::kCreateDirectories), 0);
}

}  // namespace
}  // namespace loomset

namespace loomset {
namespace {

// A handler or observer that reads the tracker's computed fields (which wait for the worker) must
// not hang the worker, even while another thread reads the same fields.
TEST(PLUDispatcherFacade, HandlersThatReadTheTrackerDoNotHangTheWorker) {
  FacadeOverCollector env;
  auto facade = PLU::sharedInstance();
  auto tracker = facade->trackerWithTrackingId("UA-42-4");
  ASSERT_TRUE(tracker);
  tracker->setAllowIDFACollection(true);
  auto dispatcher =
      std::dynamic_pointer_cast<PLUBatchingDispatcher>(PLUInternal::dispatcher(*facade));
  ASSERT_TRUE(dispatcher);
  std::atomic<int> observed{0};
  auto token = dispatcher->addWillDispatchObserver([&](PLUBatchingDispatcher&) {
    tracker->get("&_crc");
    observed++;
  });

  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop.load()) {
      tracker->get("&_crc");
      tracker->get("&idfa");
    }
  });
  for (int i = 0; i < 5; ++i) {
    tracker->send({{"&t", "event"}, {"&ec", "read back"}});
    auto crc = std::make_shared<std::optional<PLUHitValue>>();
    facade->dispatchWithCompletionHandler(
        [tracker, crc](PLUDispatchOutcome) { *crc = tracker->get("&_crc"); });
    ASSERT_TRUE(testing::waitFor([&] {
      env.platform().runUntilIdle();
      return crc->has_value();
    }));
    EXPECT_EQ(**crc, "0");
  }
  stop = true;
  reader.join();
  EXPECT_EQ(observed.load(), 5);
  facade->applicationWillTerminate();  // waits for the worker: it must still be free
  EXPECT_EQ(env.collector().hits().size(), 5u);
}

// Opt-out is decided when the hit is sent, not when the worker reaches it.
TEST(PLUDispatcherFacade, AHitSentWhileOptedOutIsNeverStored) {
  FacadeOverCollector env;
  auto facade = PLU::sharedInstance();
  auto tracker = facade->trackerWithTrackingId("UA-42-5");
  ASSERT_TRUE(tracker);

  // Hold the worker so that the hit waits while opt-out is switched back off.
  std::promise<void> gate;
  auto released = gate.get_future().share();
  PLUInternal::thread()->post([released] { released.wait(); });
  facade->setOptOut(true);
  tracker->send({{"&t", "event"}, {"&ec", "opted out"}});
  facade->setOptOut(false);
  tracker->send({{"&t", "event"}, {"&ec", "opted in"}});
  gate.set_value();

  EXPECT_EQ(env.dispatchAndWait(*facade), kPLUDispatchSent);
  ASSERT_TRUE(testing::waitFor([&] { return env.collector().hits().size() == 1; }));
  EXPECT_EQ(env.collector().hits()[0].at("ec"), "opted in");
  EXPECT_EQ(env.dispatchAndWait(*facade), kPLUDispatchNothingToSend);
}

// Concurrent switches leave the facade and its dispatcher agreeing.
TEST(PLUDispatcherFacade, OptOutOfTheFacadeAndTheDispatcherAgree) {
  FacadeOverCollector env;
  auto facade = PLU::sharedInstance();
  auto dispatcher = PLUInternal::dispatcher(*facade);
  ASSERT_TRUE(dispatcher);
  for (int round = 0; round < 200; ++round) {
    std::thread on([&] { facade->setOptOut(true); });
    std::thread off([&] { facade->setOptOut(false); });
    on.join();
    off.join();
    ASSERT_EQ(facade->optOut(), dispatcher->optOut()) << "round " << round;
  }
  facade->setOptOut(false);
}

}  // namespace
}  // namespace loomset
