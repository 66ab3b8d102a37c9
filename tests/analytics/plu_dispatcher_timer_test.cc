// When the dispatcher sends on its own: the first dispatch a second after creation, then every
// dispatch interval while hits wait and the collector is reachable; never with an interval of 0
// or less. Time moves only through the fake clock of the worker loop.
#include <gtest/gtest.h>

#include "loomset/PLUFields.h"
#include "support/PLUCollector.h"

namespace loomset {
namespace {

using testing::LocalHttpServer;
using testing::PLUDispatcherHarness;

TEST(PLUDispatcherTimers, FirstDispatchAfterOneSecondThenEveryInterval) {
  PLUDispatcherHarness h;
  h.queue(PLUDispatcherHarness::eventHit("early"));
  h.worker().advanceAndRun(0.9);
  EXPECT_EQ(h.collector().requestCount(), 0u);
  h.worker().advanceAndRun(0.1);
  ASSERT_TRUE(h.driveUntil([&] { return h.collector().hits().size() == 1; }));
  ASSERT_TRUE(h.driveUntil([&] { return h.storedHits() == 0; }));

  // The next hit waits for the periodic timer, which counts from the moment hits came back.
  h.queue(PLUDispatcherHarness::eventHit("later"));
  h.worker().advanceAndRun(119);
  h.worker().runUntilIdle();
  EXPECT_EQ(h.collector().requestCount(), 1u);
  h.worker().advanceAndRun(1);
  ASSERT_TRUE(h.driveUntil([&] { return h.collector().hits().size() == 2; }));
  EXPECT_EQ(h.collector().hits()[1].at("el"), "later");
}

TEST(PLUDispatcherTimers, NoTimerDispatchesWithAnIntervalOfZeroOrLess) {
  for (double interval : {0.0, -5.0}) {
    PLUDispatcherHarness h;
    h.dispatcher().setDispatchInterval(interval);
    h.queue(PLUDispatcherHarness::eventHit("manual"));
    h.worker().advanceAndRun(1);
    h.worker().advanceAndRun(3600);
    EXPECT_EQ(h.collector().requestCount(), 0u) << interval;
    EXPECT_EQ(h.storedHits(), 1);

    h.dispatcher().dispatch();  // an explicit dispatch still sends
    ASSERT_TRUE(h.driveUntil([&] { return h.collector().hits().size() == 1; }));

    // A positive interval brings the timer back.
    h.dispatcher().setDispatchInterval(30);
    h.queue(PLUDispatcherHarness::eventHit("timed"));
    h.worker().advanceAndRun(30);
    ASSERT_TRUE(h.driveUntil([&] { return h.collector().hits().size() == 2; }));
  }
}

TEST(PLUDispatcherTimers, AFailedDispatchIsTriedAgainAtTheNextTick) {
  PLUCollectorEndpoints nowhere;
  nowhere.plainBaseUrl = "http://127.0.0.1:" + std::to_string(LocalHttpServer::unusedPort());
  nowhere.secureBaseUrl = nowhere.plainBaseUrl;
  PLUDispatcherHarness h(
      [&nowhere](PLUBatchingDispatcher::Options& options) { options.context.endpoints = nowhere; });
  h.queue(PLUDispatcherHarness::eventHit("persistent"));
  h.worker().advanceAndRun(1);
  ASSERT_TRUE(h.driveUntil([&] { return h.log().contains("Dispatch error: "); }));
  EXPECT_EQ(h.storedHits(), 1);

  h.dispatcher().setCollectorEndpoints(h.collector().endpoints());
  h.worker().advanceAndRun(119);
  ASSERT_TRUE(h.driveUntil([&] { return h.collector().hits().size() == 1; }));
  ASSERT_TRUE(h.driveUntil([&] { return h.storedHits() == 0; }));
}

TEST(PLUDispatcherTimers, AnUnreachableCollectorHoldsHitsUntilItIsBack) {
  PLUDispatcherHarness h;
  h.setReachable(false);
  h.queue(PLUDispatcherHarness::eventHit("offline"));
  h.dispatcher().dispatch();
  h.worker().advanceAndRun(1);
  h.worker().advanceAndRun(600);
  EXPECT_EQ(h.collector().requestCount(), 0u);
  EXPECT_EQ(h.storedHits(), 1);

  h.setReachable(true);
  h.worker().advanceAndRun(119);
  EXPECT_EQ(h.collector().requestCount(), 0u);
  h.worker().advanceAndRun(1);
  ASSERT_TRUE(h.driveUntil([&] { return h.collector().hits().size() == 1; }));
}

}  // namespace
}  // namespace loomset
