// The facade's own wiring end to end: a tracker from `PLU::sharedInstance()` sends a hit, the
// library's dispatcher stores it on the analytics worker thread, and a dispatch delivers it to a
// collector on 127.0.0.1.
#include <gtest/gtest.h>

#include <future>
#include <mutex>
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

  std::promise<PLUDispatchOutcome> outcome;
  facade->dispatchWithCompletionHandler(
      [&outcome](PLUDispatchOutcome value) { outcome.set_value(value); });
  auto future = outcome.get_future();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(30)), std::future_status::ready);
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
  std::promise<PLUDispatchOutcome> sent;
  facade->dispatchWithCompletionHandler([&sent](PLUDispatchOutcome o) { sent.set_value(o); });
  EXPECT_EQ(sent.get_future().get(), kPLUDispatchSent);
  facade->setDryRun(false);

  facade->setOptOut(true);
  tracker->send({{"&t", "event"}, {"&ec", "opted out"}});
  std::promise<PLUDispatchOutcome> nothing;
  facade->dispatchWithCompletionHandler([&nothing](PLUDispatchOutcome o) { nothing.set_value(o); });
  EXPECT_EQ(nothing.get_future().get(), kPLUDispatchNothingToSend);
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
  std::promise<PLUDispatchOutcome> outcome;
  facade->dispatchWithCompletionHandler([&outcome](PLUDispatchOutcome o) { outcome.set_value(o); });
  EXPECT_EQ(outcome.get_future().get(), kPLUDispatchSent);

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
