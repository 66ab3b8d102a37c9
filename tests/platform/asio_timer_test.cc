#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "loomset/platform/EventLoop.h"
#include "platform/WaitFor.h"
#include "support/RecordingLogger.h"

namespace loomset {
namespace {

using testing::waitFor;

// Timers here are a few milliseconds long. Nothing asserts how long anything took; where a test
// must show that something did NOT happen, it waits for a later timer on the same loop, which
// the loop can only fire after the earlier deadline has passed.

TEST(AsioTimers, OneShotFiresOnceAndRepeatingKeepsFiringUntilCancelled) {
  AsioEventLoop loop("loomset-test");
  std::atomic<int> once{0};
  std::atomic<int> repeats{0};
  std::atomic<bool> onLoopThread{true};
  loop.postAfter(0.002, [&] {
    ++once;
    if (!loop.isCurrent()) onLoopThread = false;
  });
  auto repeating = loop.postRepeating(0.001, [&] {
    ++repeats;
    if (!loop.isCurrent()) onLoopThread = false;
  });
  ASSERT_TRUE(waitFor([&] { return repeats.load() >= 5 && once.load() == 1; }));
  repeating->cancel();
  repeating->cancel();  // idempotent

  std::atomic<bool> later{false};
  loop.postAfter(0.02, [&] { later = true; });
  ASSERT_TRUE(waitFor([&] { return later.load(); }));
  const int afterCancel = repeats.load();
  std::atomic<bool> evenLater{false};
  loop.postAfter(0.01, [&] { evenLater = true; });
  ASSERT_TRUE(waitFor([&] { return evenLater.load(); }));
  EXPECT_EQ(repeats.load(), afterCancel);
  EXPECT_EQ(once.load(), 1);
  EXPECT_TRUE(onLoopThread.load());
}

TEST(AsioTimers, TimersFireInDeadlineOrder) {
  AsioEventLoop loop("loomset-test");
  std::vector<int> order;
  // Spaced widely enough that a stall between these calls cannot reorder the deadlines.
  loop.postAfter(0.15, [&] { order.push_back(3); });
  loop.postAfter(0.05, [&] { order.push_back(1); });
  loop.postAfter(0.10, [&] { order.push_back(2); });
  loop.postAfter(0, [&] { order.push_back(0); });
  loop.postAfter(-5, [&] { order.push_back(0); });  // negative means now
  std::atomic<bool> done{false};
  loop.postAfter(0.2, [&] { done = true; });
  ASSERT_TRUE(waitFor([&] { return done.load(); }));
  loop.postAndWait([] {});
  EXPECT_EQ(order, (std::vector<int>{0, 0, 1, 2, 3}));
}

TEST(AsioTimers, CancelBeforeFiringPreventsTheBlockAndReleasesIt) {
  AsioEventLoop loop("loomset-test");
  std::atomic<bool> fired{false};
  auto token = std::make_shared<int>(7);
  std::weak_ptr<int> watch = token;
  auto timer = loop.postAfter(0.005, [&fired, token] { fired = true; });
  token.reset();
  timer->cancel();
  std::atomic<bool> later{false};
  loop.postAfter(0.02, [&] { later = true; });
  ASSERT_TRUE(waitFor([&] { return later.load(); }));
  EXPECT_FALSE(fired.load());
  // What the block held is let go once cancelled, not only when the handle goes away.
  EXPECT_TRUE(waitFor([&] { return watch.expired(); }));
}

TEST(AsioTimers, RepeatingTimerCancelledFromItsOwnBlockNeverFiresAgain) {
  AsioEventLoop loop("loomset-test");
  std::atomic<int> count{0};
  std::shared_ptr<TimerHandle> timer;
  std::mutex mu;
  {
    // Hold the lock so the block cannot see the handle before it is stored.
    std::lock_guard<std::mutex> lock(mu);
    timer = loop.postRepeating(0.001, [&] {
      std::lock_guard<std::mutex> inner(mu);
      if (++count == 3) timer->cancel();
    });
  }
  ASSERT_TRUE(waitFor([&] { return count.load() >= 3; }));
  std::atomic<bool> later{false};
  loop.postAfter(0.02, [&] { later = true; });
  ASSERT_TRUE(waitFor([&] { return later.load(); }));
  EXPECT_EQ(count.load(), 3);
}

TEST(AsioTimers, CancelFromAnotherThreadWhileFiringStopsIt) {
  AsioEventLoop loop("loomset-test");
  for (int round = 0; round < 20; ++round) {
    std::atomic<int> count{0};
    auto timer = loop.postRepeating(0.0005, [&count] {
      ++count;
      std::this_thread::yield();
    });
    ASSERT_TRUE(waitFor([&] { return count.load() >= 2; }));
    std::thread canceller([&] { timer->cancel(); });
    canceller.join();
    // A fire already under way may finish; none starts after that.
    const int atCancel = count.load();
    loop.postAndWait([] {});
    std::atomic<bool> later{false};
    loop.postAfter(0.005, [&] { later = true; });
    ASSERT_TRUE(waitFor([&] { return later.load(); }));
    EXPECT_LE(count.load(), atCancel + 1);
  }
}

TEST(AsioTimers, ThrowingTimerBlockIsLoggedAndRepeatingTimerGoesOn) {
  testing::ScopedRecordingLogger log;
  AsioEventLoop loop("loomset-test");
  std::atomic<int> count{0};
  auto timer = loop.postRepeating(0.001, [&] {
    ++count;
    throw std::runtime_error("timer failure");
  });
  ASSERT_TRUE(waitFor([&] { return count.load() >= 3; }));
  timer->cancel();
  loop.postAndWait([] {});
  EXPECT_GE(log->count("timer failure"), 3);
}

TEST(AsioTimers, UnusableIntervalsAreRefusedAndHandlesOutliveTheLoop) {
  testing::ScopedRecordingLogger log;
  std::shared_ptr<TimerHandle> pending;
  std::atomic<int> fired{0};
  {
    AsioEventLoop loop("loomset-test");
    auto zero = loop.postRepeating(0, [&] { ++fired; });
    auto negative = loop.postRepeating(-1, [&] { ++fired; });
    auto nan = loop.postRepeating(std::nan(""), [&] { ++fired; });
    ASSERT_TRUE(zero && negative && nan);
    zero->cancel();
    EXPECT_EQ(log->count("Refusing a repeating timer"), 3);
    // Absurd delays are clamped, not overflowed into the past.
    pending = loop.postAfter(1e300, [&] { ++fired; });
    auto endless = loop.postRepeating(INFINITY, [&] { ++fired; });
    std::atomic<bool> later{false};
    loop.postAfter(0.01, [&] { later = true; });
    ASSERT_TRUE(waitFor([&] { return later.load(); }));
  }
  EXPECT_EQ(fired.load(), 0);
  pending->cancel();  // the loop is gone; this must be harmless
}

}  // namespace
}  // namespace loomset
