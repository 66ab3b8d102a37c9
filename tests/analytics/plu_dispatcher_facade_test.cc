// The facade's own wiring end to end: a tracker from `PLU::sharedInstance()` sends a hit, the
// library's dispatcher stores it on the analytics worker thread, and a dispatch delivers it to a
// collector on 127.0.0.1.
#include <gtest/gtest.h>

#include <future>

#include "analytics/PLUInstanceControl.h"
#include "analytics/PLUInternal.h"
#include "analytics/PLULog.h"
#include "analytics/dispatch/PLUBatchingDispatcher.h"
#include "loomset/PLU.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/EventLoop.h"
#include "platform/WaitFor.h"
#include "support/PLUCollector.h"

namespace loomset {
namespace {

using testing::PLUCollector;

// Points new facades at the collector and puts everything back afterwards.
class FacadeOverCollector {
 public:
  FacadeOverCollector() : logger_(std::make_shared<testing::PLURecordingLogger>()) {
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

}  // namespace
}  // namespace loomset
