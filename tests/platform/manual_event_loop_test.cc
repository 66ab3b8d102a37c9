#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/FakeClock.h"
#include "support/ManualEventLoop.h"
#include "support/RecordingLogger.h"
#include "support/TempDir.h"

namespace loomset::testing {
namespace {

TEST(FakeClock, AdvanceMovesBothClocksAndSettingTheWallClockMovesOnlyIt) {
  FakeClock clock;
  const auto start = clock.monotonicNow();
  EXPECT_EQ(clock.nowMillis(), FakeClock::kDefaultStartMillis);
  clock.advance(1500);
  EXPECT_EQ(clock.nowMillis(), FakeClock::kDefaultStartMillis + 1500);
  EXPECT_EQ(clock.monotonicNow() - start, std::chrono::milliseconds(1500));
  clock.advanceSeconds(2);
  EXPECT_EQ(clock.nowSeconds(), FakeClock::kDefaultStartMillis / 1000 + 3.5);

  clock.setNowMillis(1000);  // the user sets the date back
  EXPECT_EQ(clock.nowMillis(), 1000);
  EXPECT_EQ(clock.monotonicNow() - start, std::chrono::milliseconds(3500));
  clock.advance(-100);  // monotonic time never goes back
  EXPECT_EQ(clock.nowMillis(), 1000);
  EXPECT_EQ(clock.monotonicNow() - start, std::chrono::milliseconds(3500));
}

class ManualEventLoopTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>();
  ManualEventLoop loop_{clock_, "manual"};
  std::vector<std::string> log_;
  // Milliseconds since the start, as the clock read when each entry was made.
  std::vector<double> at_;
  void note(const std::string& what) {
    log_.push_back(what);
    at_.push_back(clock_->nowMillis() - FakeClock::kDefaultStartMillis);
  }
};

TEST_F(ManualEventLoopTest, RunsNothingUntilDrivenThenPostedBlocksInOrder) {
  loop_.post([&] { note("a"); });
  loop_.post([&] {
    note("b");
    EXPECT_TRUE(loop_.isCurrent());
    loop_.post([&] { note("d"); });
  });
  loop_.post([&] { note("c"); });
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(loop_.pendingBlocks(), 3u);
  EXPECT_FALSE(loop_.isCurrent());
  EXPECT_EQ(loop_.runUntilIdle(), 4u);
  EXPECT_EQ(log_, (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(loop_.pendingBlocks(), 0u);
  EXPECT_EQ(loop_.runUntilIdle(), 0u);
}

TEST_F(ManualEventLoopTest, AdvanceFiresTimersInTimeOrderWithTheClockAtEachDueTime) {
  loop_.postAfter(3, [&] { note("three"); });
  loop_.postAfter(1, [&] { note("one"); });
  auto repeating = loop_.postRepeating(2, [&] { note("every two"); });
  loop_.postAfter(0, [&] { note("now"); });
  EXPECT_EQ(loop_.pendingTimers(), 4u);
  EXPECT_EQ(loop_.secondsUntilNextTimer(), 0.0);

  loop_.runUntilIdle();
  EXPECT_EQ(log_, (std::vector<std::string>{"now"}));
  EXPECT_EQ(loop_.secondsUntilNextTimer(), 1.0);

  loop_.advanceAndRun(6.5);
  EXPECT_EQ(log_, (std::vector<std::string>{"now", "one", "every two", "three", "every two",
                                            "every two"}));
  EXPECT_EQ(at_, (std::vector<double>{0, 1000, 2000, 3000, 4000, 6000}));
  EXPECT_EQ(clock_->nowMillis() - FakeClock::kDefaultStartMillis, 6500);
  EXPECT_EQ(loop_.pendingTimers(), 1u);
  EXPECT_EQ(loop_.secondsUntilNextTimer(), 1.5);

  repeating->cancel();
  EXPECT_EQ(loop_.pendingTimers(), 0u);
  EXPECT_FALSE(loop_.secondsUntilNextTimer().has_value());
  loop_.advanceAndRun(10);
  EXPECT_EQ(log_.size(), 6u);
}

TEST_F(ManualEventLoopTest, TimersCancelledBeforeOrDuringTheirBlockStop) {
  auto never = loop_.postAfter(1, [&] { note("never"); });
  never->cancel();
  never->cancel();
  std::shared_ptr<TimerHandle> self;
  int count = 0;
  self = loop_.postRepeating(1, [&] {
    if (++count == 2) self->cancel();
  });
  // Posted blocks that schedule timers: the timer counts from when it was scheduled.
  loop_.postAfter(2.5, [&] { loop_.postAfter(1, [&] { note("chained"); }); });
  loop_.advanceAndRun(10);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(log_, std::vector<std::string>{"chained"});
  EXPECT_EQ(at_, std::vector<double>{3500});
}

TEST_F(ManualEventLoopTest, ClockMovedByHandRunsWhatBecameDue) {
  loop_.postAfter(5, [&] { note("late"); });
  loop_.post([&] { note("posted"); });
  clock_->advanceSeconds(10);
  loop_.runUntilIdle();
  // Both are due now; they run in the order they became due (the block at 0 s, the timer at
  // 5 s), not in the order they were queued.
  EXPECT_EQ(log_, (std::vector<std::string>{"posted", "late"}));
}

TEST_F(ManualEventLoopTest, ThrowingBlocksAreLoggedAndTheRestStillRun) {
  ScopedRecordingLogger log;
  loop_.post([] { throw std::runtime_error("manual failure"); });
  loop_.post([&] { note("after"); });
  loop_.postRepeating(1, [] { throw std::runtime_error("repeating failure"); });
  loop_.advanceAndRun(3);
  EXPECT_EQ(log_, std::vector<std::string>{"after"});
  EXPECT_TRUE(log->contains("manual failure"));
  EXPECT_EQ(log->count("repeating failure"), 3);
}

TEST_F(ManualEventLoopTest, PostAndWaitRunsTheQueueUpToItsBlock) {
  loop_.post([&] { note("earlier"); });
  loop_.postAfter(1, [&] { note("timer"); });
  loop_.postAndWait([&] {
    note("waited");
    EXPECT_TRUE(loop_.isCurrent());
    loop_.postAndWait([&] { note("nested inline"); });
  });
  EXPECT_EQ(log_, (std::vector<std::string>{"earlier", "waited", "nested inline"}));
  EXPECT_FALSE(loop_.isCurrent());

  // From another thread while this one drives: the block runs in the driver's pass or the
  // waiter's own; either way the waiter returns after it ran.
  std::atomic<bool> ran{false};
  std::thread waiter([&] { loop_.postAndWait([&] { ran = true; }); });
  while (!ran) loop_.runUntilIdle();
  waiter.join();
  EXPECT_TRUE(ran.load());
}

TEST_F(ManualEventLoopTest, RefusesUnusableIntervals) {
  ScopedRecordingLogger log;
  auto timer = loop_.postRepeating(0, [&] { note("spin"); });
  timer->cancel();
  loop_.advanceAndRun(1);
  EXPECT_TRUE(log_.empty());
  EXPECT_TRUE(log->contains("Refusing a repeating timer on manual"));
}

TEST(TempDir, IsFreshAndRemovedWithItsContents) {
  std::string path;
  {
    TempDir a;
    TempDir b;
    path = a.path();
    EXPECT_NE(a.path(), b.path());
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_TRUE(std::filesystem::is_empty(path));
    std::filesystem::create_directories(a.file("x/y"));
    EXPECT_EQ(a.file("x"), path + "/x");
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace loomset::testing
