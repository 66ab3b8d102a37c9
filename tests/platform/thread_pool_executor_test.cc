#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "loomset/platform/EventLoop.h"
#include "platform/WaitFor.h"
#include "support/RecordingLogger.h"

namespace loomset {
namespace {

using testing::waitFor;

TEST(ThreadPoolExecutor, RunsWorkOffTheCallersThreadAndFinishesQueuedWorkOnDestruction) {
  std::atomic<int> done{0};
  std::mutex mu;
  std::set<std::thread::id> threads;
  {
    ThreadPoolExecutor pool(2);
    for (int i = 0; i < 100; ++i) {
      pool.execute([&] {
        {
          std::lock_guard<std::mutex> lock(mu);
          threads.insert(std::this_thread::get_id());
        }
        ++done;
      });
    }
  }
  EXPECT_EQ(done.load(), 100);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
  EXPECT_LE(threads.size(), 2u);
}

TEST(ThreadPoolExecutor, ThrowingWorkIsLoggedAndThePoolGoesOn) {
  testing::ScopedRecordingLogger log;
  std::atomic<int> done{0};
  {
    ThreadPoolExecutor pool(1);
    pool.execute([] { throw std::runtime_error("background failure"); });
    pool.execute([&] { ++done; });
    pool.execute(nullptr);
  }
  EXPECT_EQ(done.load(), 1);
  EXPECT_TRUE(log->contains("background failure"));
}

TEST(ThreadPoolExecutor, DestroyedFromItsOwnWorkDoesNotDeadlock) {
  auto pool = std::make_shared<ThreadPoolExecutor>(2);
  std::atomic<bool> released{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> queuedRan{false};
  pool->execute([keep = pool, &released, &finished, &queuedRan]() mutable {
    keep->execute([&queuedRan] { queuedRan = true; });
    waitFor([&] { return released.load(); });
    keep.reset();  // the pool's destructor runs on one of its own threads
    finished = true;
  });
  pool.reset();
  released = true;
  ASSERT_TRUE(waitFor([&] { return finished.load(); }));
  EXPECT_TRUE(waitFor([&] { return queuedRan.load(); }));
}

// The last reference can also go with the work itself: a queue's task keeps its queue, and the
// queue keeps the pool, so the pool goes when the finished task is thrown away.
TEST(ThreadPoolExecutor, ReleasedWithTheCapturesOfItsLastWorkDoesNotFreeItselfUnderItsThread) {
  for (int round = 0; round < 20; ++round) {
    auto pool = std::make_shared<ThreadPoolExecutor>(1);
    std::atomic<bool> released{false};
    std::atomic<bool> ran{false};
    pool->execute([keep = pool, &released, &ran] {
      waitFor([&] { return released.load(); });
      ran = true;
    });
    pool.reset();
    released = true;
    ASSERT_TRUE(waitFor([&] { return ran.load(); }));
  }
}

}  // namespace
}  // namespace loomset
