// Bounded flush: every stored hit goes out batch after batch, and the flush ends by its deadline
// when the collector holds its answer or cannot be reached. The dispatcher's own flush runs on a
// manual worker and the fake clock; the facade's blocking one on the library's real threads.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "analytics/PLUInstanceControl.h"
#include "analytics/PLUInternal.h"
#include "analytics/PLULog.h"
#include "analytics/dispatch/PLUFlushRun.h"
#include "loomset/PLU.h"
#include "platform/WaitFor.h"
#include "support/PLUCollector.h"

namespace loomset {
namespace {

using testing::LocalHttpServer;
using testing::PLUCollector;
using testing::PLUDispatcherHarness;

std::shared_ptr<PLUFlushRun> startFlush(PLUDispatcherHarness& h, double timeoutSeconds) {
  auto run = std::make_shared<PLUFlushRun>(h.platform().platform()->clock, timeoutSeconds);
  h.dispatcher().flush(run);
  return run;
}

void queueHits(PLUDispatcherHarness& h, int count) {
  for (int i = 0; i < count; ++i) {
    h.queue(PLUDispatcherHarness::eventHit("hit " + std::to_string(i)));
    h.advanceWallClock(0.001);
  }
}

TEST(PLUFlush, SendsEveryStoredHitBatchAfterBatch) {
  PLUDispatcherHarness h;
  queueHits(h, 45);  // three batches of at most 20
  auto run = startFlush(h, 30);
  ASSERT_TRUE(h.driveUntil([&] { return run->finished(); }));
  const PLUFlushResult result = run->wait();
  EXPECT_EQ(result.hitsSent, 45u);
  EXPECT_EQ(result.hitsLeft, 0);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(h.collector().hits().size(), 45u);
  EXPECT_EQ(h.collector().requestCount(), 3u);
  EXPECT_EQ(h.storedHits(), 0);
}

TEST(PLUFlush, NothingStoredEndsAtOnce) {
  PLUDispatcherHarness h;
  auto run = startFlush(h, 30);
  h.worker().runUntilIdle();
  ASSERT_TRUE(run->finished());
  const PLUFlushResult result = run->wait();
  EXPECT_EQ(result.hitsSent, 0u);
  EXPECT_EQ(result.hitsLeft, 0);
  EXPECT_FALSE(result.timedOut);
}

TEST(PLUFlush, ARefusedBatchIsRetriedHitByHit) {
  PLUDispatcherHarness h;
  h.collector().server().enqueueResponse("/batch", LocalHttpServer::Response::text(404, ""));
  queueHits(h, 3);
  auto run = startFlush(h, 30);
  ASSERT_TRUE(h.driveUntil([&] { return run->finished(); }));
  const PLUFlushResult result = run->wait();
  EXPECT_EQ(result.hitsSent, 3u);
  EXPECT_EQ(result.hitsLeft, 0);
}

// The collector holds its answer: the deadline on the worker's clock ends the flush, the hits
// of the request in flight counted as left; the answer, when it comes, still deletes them.
TEST(PLUFlush, AHeldAnswerEndsTheFlushAtItsDeadline) {
  PLUDispatcherHarness h;
  LocalHttpServer::Response held = LocalHttpServer::Response::text(200, "");
  held.holdUntilReleased = true;
  h.collector().server().setResponse("/batch", held);
  queueHits(h, 3);
  auto run = startFlush(h, 5);
  h.worker().runUntilIdle();
  ASSERT_TRUE(h.collector().waitForRequests(1));
  h.worker().runUntilIdle();
  EXPECT_FALSE(run->finished());

  h.worker().advanceAndRun(4.9);
  EXPECT_FALSE(run->finished());
  h.worker().advanceAndRun(0.2);
  ASSERT_TRUE(run->finished());
  const PLUFlushResult result = run->wait();
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.hitsSent, 0u);
  EXPECT_EQ(result.hitsLeft, 3);

  h.collector().server().releaseHeldResponses();
  ASSERT_TRUE(h.driveUntil([&] { return h.storedHits() == 0; }));
  EXPECT_EQ(run->wait().hitsSent, 0u) << "a finished flush changes no more";
}

TEST(PLUFlush, AnUnreachableCollectorEndsTheFlushWithTheHitsKept) {
  PLUDispatcherHarness h([](PLUBatchingDispatcher::Options& options) {
    const std::string url = "http://127.0.0.1:" + std::to_string(LocalHttpServer::unusedPort());
    options.context.endpoints.plainBaseUrl = url;
    options.context.endpoints.secureBaseUrl = url;
  });
  queueHits(h, 2);
  auto run = startFlush(h, 30);
  ASSERT_TRUE(h.driveUntil([&] { return run->finished(); }));
  const PLUFlushResult result = run->wait();
  EXPECT_FALSE(result.timedOut) << "a request without an answer ends it, not the deadline";
  EXPECT_EQ(result.hitsSent, 0u);
  EXPECT_EQ(result.hitsLeft, 2);
  EXPECT_EQ(h.storedHits(), 2);
}

// Reported unreachable by its watch: nothing is tried, nothing is lost.
TEST(PLUFlush, ACollectorHostReportedUnreachableIsNotTried) {
  PLUDispatcherHarness h;
  queueHits(h, 2);
  h.setReachable(false);
  auto run = startFlush(h, 30);
  h.worker().runUntilIdle();
  ASSERT_TRUE(run->finished());
  EXPECT_EQ(run->wait().hitsLeft, 2);
  EXPECT_EQ(h.collector().requestCount(), 0u);
}

// A flush that starts while a dispatch's request is in flight waits for it rather than sending
// its hits a second time.
TEST(PLUFlush, ARequestAlreadyInFlightIsWaitedForNotRepeated) {
  PLUDispatcherHarness h;
  LocalHttpServer::Response held = LocalHttpServer::Response::text(200, "");
  held.holdUntilReleased = true;
  h.collector().server().enqueueResponse("/batch", held);
  queueHits(h, 3);
  h.dispatcher().dispatch();
  h.worker().runUntilIdle();
  ASSERT_TRUE(h.collector().waitForRequests(1));
  auto run = startFlush(h, 30);
  h.worker().runUntilIdle();
  EXPECT_FALSE(run->finished());
  h.collector().server().releaseHeldResponses();
  ASSERT_TRUE(h.driveUntil([&] { return run->finished(); }));
  EXPECT_EQ(run->wait().hitsLeft, 0);
  EXPECT_EQ(h.collector().hits().size(), 3u) << "no hit went out twice";
}

TEST(PLUFlushRun, ANonsenseTimeoutMeansNoWait) {
  auto clock = std::make_shared<testing::FakeClock>();
  for (double timeout : {-1.0, 0.0, std::nan("")}) {
    PLUFlushRun run(clock, timeout);
    EXPECT_TRUE(run.deadlinePassed());
    EXPECT_TRUE(run.wait().timedOut);
  }
}

// ---- The facade's blocking flush, on the library's threads -----------------------------------

class FlushingFacade {
 public:
  explicit FlushingFacade(std::function<void(Platform&)> customize = nullptr)
      : platform_(std::move(customize)), logger_(std::make_shared<testing::PLURecordingLogger>()) {
    PLUCollectorEndpoints::setShared(collector_.endpoints());
    plu_log::setSharedLogger(logger_);
    PLUInstanceControl::setDispatcherFactory(nullptr);
    PLUInstanceControl::resetSharedInstance();
  }
  ~FlushingFacade() {
    PLUInstanceControl::resetSharedInstance();
    PLUInternal::thread()->postAndWait([] {});
    PLUCollectorEndpoints::setShared(PLUCollectorEndpoints());
    plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
  }
  PLUCollector& collector() { return collector_; }
  testing::ScopedPlatform& platform() { return platform_; }

 private:
  PLUCollector collector_;
  testing::ScopedPlatform platform_;
  std::shared_ptr<testing::PLURecordingLogger> logger_;
};

TEST(PLUFacadeFlush, SendsWhatTrackersQueuedAndSaysWhatIsLeft) {
  FlushingFacade env;
  auto facade = PLU::sharedInstance();
  auto tracker = facade->trackerWithTrackingId("UA-FLUSH-1");
  for (int i = 0; i < 25; ++i) tracker->send({{"&t", "event"}, {"&ec", std::to_string(i)}});
  const PLUFlushResult result = facade->flush(20);
  EXPECT_EQ(result.hitsSent, 25u);
  EXPECT_EQ(result.hitsLeft, 0);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(env.collector().hits().size(), 25u);
}

// The main loop is a thread of its own here, as in an application; a flush called on it does not
// wait for anything that needs it.
TEST(PLUFacadeFlush, CalledOnTheMainLoopsOwnThreadItDoesNotDeadlock) {
  auto mainLoop = std::make_shared<AsioEventLoop>("flush-main");
  FlushingFacade env([mainLoop](Platform& p) { p.mainLoop = mainLoop; });
  auto facade = PLU::sharedInstance();
  facade->addDeliveryObserver([](const PLUDispatchReport&) {});
  facade->trackerWithTrackingId("UA-FLUSH-2")->send({{"&t", "event"}, {"&ec", "main"}});
  PLUFlushResult result;
  mainLoop->postAndWait([&] { result = facade->flush(20); });
  EXPECT_EQ(result.hitsSent, 1u);
  EXPECT_EQ(result.hitsLeft, 0);
}

// The collector holds its answer and the platform clock stands still: real time bounds the wait.
TEST(PLUFacadeFlush, AHeldAnswerDoesNotHoldTheCaller) {
  FlushingFacade env;
  LocalHttpServer::Response held = LocalHttpServer::Response::text(200, "");
  held.holdUntilReleased = true;
  env.collector().server().setResponse("/collect", held);
  auto facade = PLU::sharedInstance();
  facade->trackerWithTrackingId("UA-FLUSH-3")->send({{"&t", "event"}, {"&ec", "held"}});
  const PLUFlushResult result = facade->flush(0.3);
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.hitsSent, 0u);
  EXPECT_EQ(result.hitsLeft, 1);
  env.collector().server().releaseHeldResponses();
}

TEST(PLUFacadeFlush, OnTheWorkerThreadItOnlySavesAndCounts) {
  FlushingFacade env;
  auto facade = PLU::sharedInstance();
  facade->trackerWithTrackingId("UA-FLUSH-4")->send({{"&t", "event"}, {"&ec", "worker"}});
  PLUFlushResult result;
  PLUInternal::thread()->postAndWait([&] { result = facade->flush(20); });
  EXPECT_EQ(result.hitsLeft, 1);
  EXPECT_EQ(result.hitsSent, 0u);
  EXPECT_EQ(env.collector().requestCount(), 0u);
}

}  // namespace
}  // namespace loomset
