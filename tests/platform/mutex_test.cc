#include "Library/Util/platform/Mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/WaitFor.h"

namespace loomset {
namespace {

using testing::waitFor;

// Counts what a ScopedLock does to the lock it holds.
class CAPABILITY("mutex") CountingLock {
 public:
  void lock() ACQUIRE() { ++locks; }
  void unlock() RELEASE() { ++unlocks; }
  int locks = 0;
  int unlocks = 0;
};

// True when another thread cannot take `mu` at this moment.
bool heldElsewhere(Mutex& mu) {
  bool taken = false;
  std::thread([&] {
    if (mu.try_lock()) {
      taken = true;
      mu.unlock();
    }
  }).join();
  return !taken;
}

TEST(ScopedLock, ReleasesOnceWhateverWasUnlockedInBetween) {
  CountingLock counting;
  {
    ScopedLock<CountingLock> hold(counting);
    EXPECT_EQ(counting.locks, 1);
  }
  EXPECT_EQ(counting.unlocks, 1);

  {
    ScopedLock<CountingLock> hold(counting);
    hold.unlock();
  }
  EXPECT_EQ(counting.locks, 2);
  EXPECT_EQ(counting.unlocks, 2) << "a lock let go of early must not be released again";

  {
    ScopedLock<CountingLock> hold(counting);
    hold.unlock();
    hold.lock();
  }
  EXPECT_EQ(counting.locks, 4);
  EXPECT_EQ(counting.unlocks, 4) << "a lock taken again must be released at the end";
}

TEST(ScopedLock, LetsOtherThreadsInOnlyWhileUnlocked) {
  Mutex mu;
  MutexLock hold(mu);
  EXPECT_TRUE(heldElsewhere(mu));
  hold.unlock();
  EXPECT_FALSE(heldElsewhere(mu));
  hold.lock();
  EXPECT_TRUE(heldElsewhere(mu));
}

// The analysis only looks inside one function, so it lets this be called with `mu` held.
void lockAgain(RecursiveMutex& mu, int& depth) {
  RecursiveMutexLock hold(mu);
  ++depth;
}

TEST(RecursiveMutex, TheHoldingThreadMayTakeItAgain) {
  RecursiveMutex mu;
  int depth = 0;
  {
    RecursiveMutexLock hold(mu);
    lockAgain(mu, depth);
  }
  EXPECT_EQ(depth, 1);
  std::thread([&] { lockAgain(mu, depth); }).join();
  EXPECT_EQ(depth, 2);
}

TEST(CondVar, WaitLetsGoOfTheMutexAndHoldsItAgainOnReturn) {
  Mutex mu;
  CondVar cv;
  bool ready = false;  // guarded by mu
  std::atomic<bool> waiting{false};
  std::atomic<bool> returned{false};
  std::atomic<bool> heldAfterReturn{false};

  std::thread waiter([&] {
    MutexLock hold(mu);
    waiting = true;
    while (!ready) cv.wait(mu);
    returned = true;
    heldAfterReturn = heldElsewhere(mu);
  });

  ASSERT_TRUE(waitFor([&] { return waiting.load(); }));
  {
    // Only possible because the waiter let go of the mutex while waiting.
    MutexLock hold(mu);
    ready = true;
    cv.notifyAll();
  }
  waiter.join();
  EXPECT_TRUE(returned);
  EXPECT_TRUE(heldAfterReturn);
  EXPECT_FALSE(heldElsewhere(mu)) << "the waiter's scope must have released the mutex once";
}

TEST(CondVar, TimedWaitsReportTimeoutsAndStillHoldTheMutex) {
  Mutex mu;
  CondVar cv;
  MutexLock hold(mu);
  EXPECT_FALSE(cv.waitFor(mu, std::chrono::milliseconds(10)));
  EXPECT_TRUE(heldElsewhere(mu));
  EXPECT_FALSE(cv.waitUntil(mu, std::chrono::steady_clock::now() + std::chrono::milliseconds(10)));
  EXPECT_TRUE(heldElsewhere(mu));
}

TEST(CondVar, TimedWaitReportsANotification) {
  Mutex mu;
  CondVar cv;
  bool ready = false;
  std::atomic<bool> waiting{false};
  bool woken = false;
  std::thread waiter([&] {
    MutexLock hold(mu);
    waiting = true;
    while (!ready) {
      woken = cv.waitFor(mu, std::chrono::seconds(60));
      if (!woken) break;
    }
  });
  ASSERT_TRUE(waitFor([&] { return waiting.load(); }));
  {
    MutexLock hold(mu);
    ready = true;
  }
  cv.notifyOne();
  waiter.join();
  EXPECT_TRUE(woken);
}

}  // namespace
}  // namespace loomset
