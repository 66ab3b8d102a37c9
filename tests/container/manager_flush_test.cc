// The manager's bounded flush: the analytics hits and the pixels stored by both halves reach
// their servers on 127.0.0.1 before it returns, on the library's real worker threads.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "analytics/PLUInstanceControl.h"
#include "analytics/PLUInternal.h"
#include "container/MOXPixelNetworking.h"
#include "loomset/MOXManager.h"
#include "loomset/PLU.h"
#include "support/PLUCollector.h"
#include "support/ScopedPlatform.h"
#include "tags/MOXDispatcher.h"

namespace loomset {
namespace {

using testing::LocalHttpServer;
using testing::PLUCollector;

class ManagerFlushTest : public ::testing::Test {
 protected:
  ManagerFlushTest()
      : platform_([](Platform& p) {
          // Store queues that run, as in an application (the data layer's saves go there).
          p.background = std::make_shared<ThreadPoolExecutor>(1);
          p.reachability = [](const std::string&, std::shared_ptr<EventLoop>) {
            return std::unique_ptr<MOXReachabilityWatcher>();  // not watched: reachable
          };
        }) {
    pixels_.setResponse("/p", LocalHttpServer::Response::text(200, ""));
    PLUCollectorEndpoints::setShared(collector_.endpoints());
    PLUInstanceControl::setDispatcherFactory(nullptr);
    PLUInstanceControl::resetSharedInstance();
    MOXDispatcher::clearInstance();
    MOXManager::clearManagerInstance();
    // The library's own pixel network: an earlier test may have left a recording one installed.
    MOXPixelNetwork::setDefaultFactory(
        [] { return std::make_shared<MOXPixelNetworking>(MOXNetworking::create()); });
  }
  ~ManagerFlushTest() override {
    MOXManager::clearManagerInstance();
    MOXDispatcher::clearInstance();
    PLUInstanceControl::resetSharedInstance();
    PLUInternal::thread()->postAndWait([] {});
    platform_.platform()->containerWorker->postAndWait([] {});
    PLUCollectorEndpoints::setShared(PLUCollectorEndpoints());
  }

  PLUCollector collector_;
  LocalHttpServer pixels_;
  testing::ScopedPlatform platform_;
};

TEST_F(ManagerFlushTest, SendsTheAnalyticsHitsAndThePixelsOfBothHalves) {
  // The manager installs the network the pixel dispatcher sends through; both halves' timers
  // are off, so only the flush sends.
  auto manager = MOXManager::instance();
  manager->setDispatchInterval(0);
  auto pixels = MOXDispatcher::instance();
  for (int n = 1; n <= 3; ++n) pixels->sendHitToUrl(pixels_.url("/p?n=" + std::to_string(n)));
  auto tracker = PLU::sharedInstance()->trackerWithTrackingId("UA-MGR-1");
  tracker->send({{"&t", "event"}, {"&ec", "one"}});
  tracker->send({{"&t", "event"}, {"&ec", "two"}});

  const MOXFlushResult result = manager->flush(20);
  EXPECT_EQ(result.hitsSent, 2u);
  EXPECT_EQ(result.hitsLeft, 0);
  EXPECT_EQ(result.pixelsSent, 3u);
  EXPECT_EQ(result.pixelsLeft, 0);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(collector_.hits().size(), 2u);
  EXPECT_EQ(pixels_.requestCount(), 3u);
}

TEST_F(ManagerFlushTest, AFailingPixelEndsThePixelsWithThemKept) {
  pixels_.setResponse("/p", LocalHttpServer::Response::text(500, ""));
  auto manager = MOXManager::instance();
  manager->setDispatchInterval(0);
  auto pixels = MOXDispatcher::instance();
  pixels->sendHitToUrl(pixels_.url("/p?n=1"));
  pixels->sendHitToUrl(pixels_.url("/p?n=2"));

  const MOXFlushResult result = manager->flush(20);
  EXPECT_EQ(result.pixelsSent, 0u);
  EXPECT_EQ(result.pixelsLeft, 2);
  EXPECT_EQ(pixels_.requestCount(), 1u) << "no retry storm against a failing server";
  EXPECT_FALSE(result.timedOut);
}

}  // namespace
}  // namespace loomset
