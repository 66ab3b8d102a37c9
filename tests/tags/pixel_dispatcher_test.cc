// The pixel dispatcher end to end on 127.0.0.1: stored pixels reach their URL once, under the
// rate limit and the wrapper, failures are retried no sooner than 120 s and given up after 4 h of
// simulated time, and manual dispatches answer once.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "container/MOXPixelNetworking.h"
#include "platform/WaitFor.h"
#include "support/LocalHttpServer.h"
#include "support/RecordingLogger.h"
#include "support/ScopedPlatform.h"
#include "tags/MOXDispatcher.h"
#include "tags/MOXPixelSendDecision.h"

namespace loomset {
namespace {

using testing::LocalHttpServer;
using testing::ManualEventLoop;
using testing::ScopedPlatform;

TEST(PixelSendDecision, OnlyACompletedAttemptGivesAHitUp) {
  const double now = 100000;
  const double old = now - kMOXPixelGiveUpSeconds - 1;
  const double recent = now - kMOXPixelGiveUpSeconds;
  using V = MOXPixelSendVerdict;
  // Sent, whatever else holds.
  EXPECT_EQ(MOXDecideAfterSend(200, false, true, old, now), V::kSent);
  EXPECT_EQ(MOXDecideAfterSend(204, true, false, std::nullopt, now), V::kSent);
  // Cancelled or unreachable: nothing is known about the hit, however old its first failure.
  EXPECT_EQ(MOXDecideAfterSend(0, true, true, old, now), V::kUnchanged);
  EXPECT_EQ(MOXDecideAfterSend(500, false, false, old, now), V::kUnchanged);
  // A completed failure gives up only past 4 hours; before that it is retried.
  EXPECT_EQ(MOXDecideAfterSend(500, false, true, old, now), V::kGivenUp);
  EXPECT_EQ(MOXDecideAfterSend(0, false, true, old, now), V::kGivenUp);
  EXPECT_EQ(MOXDecideAfterSend(500, false, true, recent, now), V::kFailed);
  EXPECT_EQ(MOXDecideAfterSend(302, false, true, std::nullopt, now), V::kFailed);
}

// A dispatcher over the container half's real network, its worker thread a manual loop on the
// test's fake clock, its store a real file in the test's data root.
class PixelDispatcherTest : public ::testing::Test {
 protected:
  PixelDispatcherTest()
      : platform_([this](Platform& p) {
          worker_ = std::make_shared<ManualEventLoop>(
              std::static_pointer_cast<ManualClock>(p.clock), "MOXThread");
          p.containerWorker = worker_;
          p.reachability = [](const std::string&, std::shared_ptr<EventLoop>) {
            return std::unique_ptr<MOXReachabilityWatcher>();  // not watched: reachable
          };
        }) {
    server_.setResponse("/p", LocalHttpServer::Response::text(200, ""));
    server_.setResponse("/fail", LocalHttpServer::Response::text(500, ""));
  }
  ~PixelDispatcherTest() override {
    dispatcher_.reset();
    worker_->runUntilIdle();
  }

  MOXDispatcher& dispatcher(std::shared_ptr<MOXPixelNetwork> network = nullptr) {
    MOXDispatcher::Options options;
    options.worker = worker_;
    options.network = network ? std::move(network)
                              : std::make_shared<MOXPixelNetworking>(MOXNetworking::create());
    dispatcher_ = MOXDispatcher::create(options);
    // Only manual dispatches, unless a test switches the timer on.
    dispatcher_->setDispatchInterval(0);
    worker_->runUntilIdle();
    return *dispatcher_;
  }
  bool drive(const std::function<bool()>& condition) {
    return testing::waitFor([&] {
      worker_->runUntilIdle();
      return condition();
    });
  }
  // A manual dispatch with a callback, driven until it has answered.
  PLUDispatchOutcome dispatchOnce() {
    auto outcome = std::make_shared<std::optional<PLUDispatchOutcome>>();
    int calls = 0;
    dispatcher_->dispatchWithCallback([outcome, &calls](PLUDispatchOutcome o) {
      *outcome = o;
      ++calls;
    });
    EXPECT_TRUE(drive([&] { return outcome->has_value(); }));
    worker_->runUntilIdle();
    EXPECT_EQ(calls, 1);
    return outcome->value_or(kPLUDispatchFailed);
  }
  std::size_t stored() {
    std::size_t count = 0;
    dispatcher_->store()->fetchHitsWithLimit(
        0, [&](std::vector<MOXHit> hits) { count = hits.size(); });
    worker_->runUntilIdle();
    return count;
  }
  std::vector<std::string> targets() const {
    std::vector<std::string> out;
    for (const auto& request : server_.requests()) out.push_back(request.target);
    return out;
  }

  LocalHttpServer server_;
  std::shared_ptr<ManualEventLoop> worker_;
  ScopedPlatform platform_;
  std::shared_ptr<MOXDispatcher> dispatcher_;
};

TEST_F(PixelDispatcherTest, SendsEachStoredPixelOnceWithOneRequestEach) {
  auto& pixels = dispatcher();
  pixels.sendHitToUrl(server_.url("/p?n=1"));
  pixels.sendHitToUrl(server_.url("/p?n=2"));
  pixels.sendHitToUrl(server_.url("/p?n=3"));
  worker_->runUntilIdle();
  // Two dispatches in a row: the second finds the first in flight and sends nothing.
  pixels.dispatch();
  pixels.dispatch();
  ASSERT_TRUE(drive([&] { return stored() == 0; }));
  EXPECT_EQ(targets(), (std::vector<std::string>{"/p?n=1", "/p?n=2", "/p?n=3"}));
  EXPECT_EQ(dispatchOnce(), kPLUDispatchNothingToSend);
  EXPECT_EQ(server_.requestCount(), 3u);
}

TEST_F(PixelDispatcherTest, ManualDispatchWithHandlerSendsOnePixelAndAnswersOnce) {
  auto& pixels = dispatcher();
  pixels.sendHitToUrl(server_.url("/p?n=1"));
  pixels.sendHitToUrl(server_.url("/p?n=2"));
  EXPECT_EQ(dispatchOnce(), kPLUDispatchSent);
  EXPECT_EQ(targets(), std::vector<std::string>{"/p?n=1"});
  EXPECT_EQ(stored(), 1u);
}

TEST_F(PixelDispatcherTest, WrapsHitsAndDropsThoseBeyondTheRateLimit) {
  testing::ScopedRecordingLogger log;
  auto& pixels = dispatcher();
  pixels.setWrapper(server_.url("/p"), "u");
  for (int i = 0; i < 61; ++i)
    pixels.sendHitToUrl("http://shop.example/px?a=b&n=" + std::to_string(i));
  worker_->runUntilIdle();
  EXPECT_EQ(stored(), 60u);
  EXPECT_EQ(log->count("Excessive tracking detected and throttled."), 1);
  // One token more every 2 seconds.
  platform_.clock().advanceSeconds(2);
  pixels.sendHitToUrl("http://shop.example/px?late");
  worker_->runUntilIdle();
  EXPECT_EQ(stored(), 61u);

  EXPECT_EQ(dispatchOnce(), kPLUDispatchSent);
  EXPECT_EQ(targets(),
            std::vector<std::string>{"/p?u=http%3A%2F%2Fshop.example%2Fpx%3Fa%3Db%26n%3D0"});
}

TEST_F(PixelDispatcherTest, AFailingPixelIsRetriedAfter120SecondsAndGivenUpAfter4Hours) {
  auto& pixels = dispatcher();
  pixels.sendHitToUrl(server_.url("/fail"));
  EXPECT_EQ(dispatchOnce(), kPLUDispatchFailed);
  EXPECT_EQ(server_.requestCount(), 1u);

  // Within 120 s of the failure nothing is sent.
  platform_.clock().advanceSeconds(119);
  EXPECT_EQ(dispatchOnce(), kPLUDispatchNothingToSend);
  EXPECT_EQ(server_.requestCount(), 1u);
  platform_.clock().advanceSeconds(1);
  EXPECT_EQ(dispatchOnce(), kPLUDispatchFailed);
  EXPECT_EQ(server_.requestCount(), 2u);

  // Four hours after the first failure it is still tried; past them, the next completed attempt
  // gives it up.
  platform_.clock().advanceSeconds(kMOXPixelGiveUpSeconds - 120);
  EXPECT_EQ(dispatchOnce(), kPLUDispatchFailed);
  EXPECT_EQ(stored(), 1u);
  platform_.clock().advanceSeconds(121);
  EXPECT_EQ(dispatchOnce(), kPLUDispatchSent);
  EXPECT_EQ(server_.requestCount(), 4u);
  EXPECT_EQ(stored(), 0u);
}

// A network whose sends are all cancelled.
class CancellingNetwork : public MOXPixelNetwork {
 public:
  explicit CancellingNetwork(std::shared_ptr<EventLoop> worker) : worker_(std::move(worker)) {}
  bool isReachable() const override { return true; }
  void sendURL(const std::string&, Completion completion) override {
    ++sends;
    worker_->post([completion] { completion({0, true}); });
  }
  int sends = 0;

 private:
  std::shared_ptr<EventLoop> worker_;
};

TEST_F(PixelDispatcherTest, ACancelledAttemptNeverGivesAnOldHitUp) {
  auto& pixels = dispatcher();
  pixels.sendHitToUrl(server_.url("/fail"));
  EXPECT_EQ(dispatchOnce(), kPLUDispatchFailed);
  platform_.clock().advanceSeconds(kMOXPixelGiveUpSeconds + 600);

  auto cancelling = std::make_shared<CancellingNetwork>(worker_);
  MOXDispatcher::Options options;
  options.worker = worker_;
  options.store = dispatcher_->store();
  options.network = cancelling;
  dispatcher_ = MOXDispatcher::create(options);
  worker_->runUntilIdle();
  EXPECT_EQ(dispatchOnce(), kPLUDispatchNothingToSend);
  EXPECT_EQ(cancelling->sends, 1);
  EXPECT_EQ(stored(), 1u);
}

// A failed hit keeps the timer going, so it is retried on its own once 120 s have passed since
// its last attempt (and not sooner).
TEST_F(PixelDispatcherTest, AFailedPixelAloneIsRetriedByTheTimer) {
  auto& pixels = dispatcher();
  pixels.sendHitToUrl(server_.url("/fail"));
  EXPECT_EQ(dispatchOnce(), kPLUDispatchFailed);
  ASSERT_TRUE(drive([&] { return server_.requestCount() == 1; }));
  pixels.setDispatchInterval(60);
  worker_->runUntilIdle();
  // A tick 60 s after the failure finds nothing to send: that dispatch ends on the loop itself,
  // without a request.
  worker_->advanceAndRun(60);
  worker_->runUntilIdle();
  EXPECT_EQ(server_.requestCount(), 1u);
  EXPECT_TRUE(pixels.hasTimer());
  worker_->advanceAndRun(60);  // 120 s after the failure
  ASSERT_TRUE(drive([&] { return server_.requestCount() == 2; }));
  EXPECT_TRUE(drive([&] { return stored() == 1u; }));
}

TEST_F(PixelDispatcherTest, TheTimerRunsOnlyWhileHitsWaitAndDispatchIsAutomatic) {
  auto& pixels = dispatcher();
  pixels.setDispatchInterval(0);
  pixels.sendHitToUrl(server_.url("/p?n=1"));
  worker_->runUntilIdle();
  EXPECT_FALSE(pixels.hasTimer());
  worker_->advanceAndRun(600);
  EXPECT_EQ(server_.requestCount(), 0u);

  pixels.setDispatchInterval(120);
  worker_->runUntilIdle();
  EXPECT_TRUE(pixels.hasTimer());
  worker_->advanceAndRun(119);
  EXPECT_EQ(server_.requestCount(), 0u);
  worker_->advanceAndRun(1);
  ASSERT_TRUE(drive([&] { return stored() == 0; }));
  EXPECT_EQ(server_.requestCount(), 1u);
  // The next tick finds nothing left, and the timer stops.
  worker_->advanceAndRun(120);
  EXPECT_FALSE(pixels.hasTimer());
}

}  // namespace
}  // namespace loomset
