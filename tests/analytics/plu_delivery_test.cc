// Delivery reports: what each dispatch did with the stored hits, handed to the facade's observers
// on the main loop.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "analytics/PLUInstanceControl.h"
#include "analytics/PLUInternal.h"
#include "analytics/PLULog.h"
#include "analytics/dispatch/PLUPayload.h"
#include "loomset/PLU.h"
#include "platform/WaitFor.h"
#include "support/PLUCollector.h"

namespace loomset {
namespace {

using testing::LocalHttpServer;
using testing::PLUCollector;
using testing::PLUDispatcherHarness;

// A harness whose dispatcher hands its reports to `reports` (on the worker, as the facade's
// context would queue them).
struct ReportingHarness {
  std::shared_ptr<std::vector<PLUDispatchReport>> reports =
      std::make_shared<std::vector<PLUDispatchReport>>();
  PLUDispatcherHarness h{[reports = reports](PLUBatchingDispatcher::Options& options) {
    options.context.reportDispatch = [reports](const PLUDispatchReport& report) {
      reports->push_back(report);
    };
  }};
};

TEST(PLUDispatchReports, SentHitsAreReportedWithTheStatusAndWhatIsKept) {
  ReportingHarness r;
  for (const char* label : {"a", "b", "c"}) r.h.queue(PLUDispatcherHarness::eventHit(label));
  r.h.dispatcher().setDispatchInterval(0);
  EXPECT_EQ(r.h.dispatchAndWait(), kPLUDispatchSent);
  ASSERT_EQ(r.reports->size(), 1u);
  const PLUDispatchReport& report = r.reports->front();
  EXPECT_EQ(report.outcome, kPLUDispatchSent);
  EXPECT_EQ(report.hitsSent, 3u);
  EXPECT_EQ(report.hitsDeleted, 0u);
  EXPECT_EQ(report.hitsFailed, 0u);
  EXPECT_EQ(report.hitsKept, 0);
  EXPECT_EQ(report.httpStatus, 200);
  EXPECT_EQ(report.timeMillis, r.h.clock().nowMillis());

  EXPECT_EQ(r.h.dispatchAndWait(), kPLUDispatchNothingToSend);
  EXPECT_EQ(r.reports->size(), 1u) << "a dispatch that did nothing is not reported";
}

TEST(PLUDispatchReports, ACollectorErrorStatusStillCountsAsSent) {
  ReportingHarness r;
  r.h.collector().server().setResponse("/collect", LocalHttpServer::Response::text(500, ""));
  r.h.queue(PLUDispatcherHarness::eventHit("refused"));
  EXPECT_EQ(r.h.dispatchAndWait(), kPLUDispatchSent);
  ASSERT_EQ(r.reports->size(), 1u);
  EXPECT_EQ(r.reports->front().hitsSent, 1u);
  EXPECT_EQ(r.reports->front().httpStatus, 500);
}

TEST(PLUDispatchReports, HitsWithoutAnAnswerAreFailedAndKept) {
  auto reports = std::make_shared<std::vector<PLUDispatchReport>>();
  PLUDispatcherHarness h([reports](PLUBatchingDispatcher::Options& options) {
    const std::string url = "http://127.0.0.1:" + std::to_string(LocalHttpServer::unusedPort());
    options.context.endpoints.plainBaseUrl = url;
    options.context.endpoints.secureBaseUrl = url;
    options.context.reportDispatch = [reports](const PLUDispatchReport& report) {
      reports->push_back(report);
    };
  });
  h.queue(PLUDispatcherHarness::eventHit("x"));
  h.queue(PLUDispatcherHarness::eventHit("y"));
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchFailed);
  ASSERT_EQ(reports->size(), 1u);
  const PLUDispatchReport& report = reports->front();
  EXPECT_EQ(report.outcome, kPLUDispatchFailed);
  EXPECT_EQ(report.hitsFailed, 2u);
  EXPECT_EQ(report.hitsSent, 0u);
  EXPECT_EQ(report.hitsKept, 2);
  EXPECT_EQ(report.httpStatus, 0);
  EXPECT_FALSE(report.error.empty());
}

TEST(PLUDispatchReports, HitsDeletedUnsentAreReported) {
  ReportingHarness r;
  PLUHitMap huge = PLUDispatcherHarness::eventHit("huge");
  huge["&cd"] = std::string(9000, 'y');
  r.h.queue(huge);
  EXPECT_EQ(r.h.dispatchAndWait(), kPLUDispatchSent);
  ASSERT_EQ(r.reports->size(), 1u);
  EXPECT_EQ(r.reports->back().hitsDeleted, 1u);
  EXPECT_EQ(r.reports->back().hitsSent, 0u);

  PLUHitMap old = PLUDispatcherHarness::eventHit("forty days old");
  old["timestamp"] = plu_formatHitTime(r.h.clock().nowSeconds() - 40 * 86400.0);
  r.h.queue(old);
  r.h.queue(PLUDispatcherHarness::eventHit("fresh"));
  EXPECT_EQ(r.h.dispatchAndWait(), kPLUDispatchSent);
  ASSERT_EQ(r.reports->size(), 2u);
  EXPECT_EQ(r.reports->back().hitsDeleted, 1u);
  EXPECT_EQ(r.reports->back().hitsSent, 1u);
}

// ---- Through the facade -----------------------------------------------------------------------

class ObservedFacade {
 public:
  ObservedFacade() : logger_(std::make_shared<testing::PLURecordingLogger>()) {
    PLUCollectorEndpoints::setShared(collector_.endpoints());
    plu_log::setSharedLogger(logger_);
    PLUInstanceControl::setDispatcherFactory(nullptr);
    PLUInstanceControl::resetSharedInstance();
  }
  ~ObservedFacade() {
    PLUInstanceControl::resetSharedInstance();
    PLUInternal::thread()->postAndWait([] {});
    PLUCollectorEndpoints::setShared(PLUCollectorEndpoints());
    plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
  }
  PLUCollector& collector() { return collector_; }
  testing::ScopedPlatform& platform() { return platform_; }
  testing::PLURecordingLogger& log() { return *logger_; }

 private:
  PLUCollector collector_;
  testing::ScopedPlatform platform_;
  std::shared_ptr<testing::PLURecordingLogger> logger_;
};

TEST(PLUDeliveryObservers, ObserversHearReportsOnTheMainLoopAndThrowingOnesAreLogged) {
  ObservedFacade env;
  auto facade = PLU::sharedInstance();
  std::vector<PLUDispatchReport> heard;
  int removedCalls = 0;
  facade->addDeliveryObserver([&](const PLUDispatchReport& report) {
    EXPECT_TRUE(env.platform().mainLoop().isCurrent());
    // No library lock is held: the facade may be used from here.
    EXPECT_FALSE(facade->clientId().empty());
    heard.push_back(report);
  });
  facade->addDeliveryObserver(
      [](const PLUDispatchReport&) { throw std::runtime_error("observer broke"); });
  const PLUObserverToken removed =
      facade->addDeliveryObserver([&](const PLUDispatchReport&) { ++removedCalls; });
  EXPECT_EQ(facade->addDeliveryObserver(nullptr), 0u);

  facade->trackerWithTrackingId("UA-OBS-1")->send({{"&t", "event"}, {"&ec", "seen"}});
  const PLUFlushResult result = facade->flush(20);
  ASSERT_EQ(result.hitsSent, 1u);
  EXPECT_TRUE(heard.empty()) << "reports wait for the main loop";
  facade->removeDeliveryObserver(removed);
  env.platform().runUntilIdle();
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].hitsSent, 1u);
  EXPECT_EQ(heard[0].hitsKept, 0);
  EXPECT_EQ(removedCalls, 0);
  EXPECT_TRUE(env.log().contains("observer broke"));
}

}  // namespace
}  // namespace loomset
