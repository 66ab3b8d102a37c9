// The serial queue over an executor: order, one block at a time, its own lifetime, and fairness to
// the executor's other work.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Library/Util/platform/SerialQueue.h"
#include "loomset/platform/EventLoop.h"
#include "platform/WaitFor.h"
#include "support/FakeClock.h"
#include "support/ManualEventLoop.h"
#include "support/RecordingLogger.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

using testing::waitFor;

TEST(SerialQueue, RunsBlocksInOrderOneAtATimeOnAPool) {
  auto pool = std::make_shared<ThreadPoolExecutor>(4);
  SerialQueue queue(pool, "test queue");
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::mutex mu;
  std::vector<int> order[2];
  std::atomic<int> done{0};
  std::thread posters[2];
  for (int p = 0; p < 2; ++p) {
    posters[p] = std::thread([&, p] {
      for (int i = 0; i < 500; ++i) {
        queue.post([&, p, i] {
          if (running.fetch_add(1) != 0) overlapped = true;
          EXPECT_TRUE(queue.isCurrent());
          {
            std::lock_guard<std::mutex> lock(mu);
            order[p].push_back(i);
          }
          running.fetch_sub(1);
          ++done;
        });
      }
    });
  }
  for (auto& poster : posters) poster.join();
  ASSERT_TRUE(waitFor([&] { return done.load() == 1000; }));
  EXPECT_FALSE(overlapped.load());
  EXPECT_FALSE(queue.isCurrent());
  for (const auto& posted : order) {
    ASSERT_EQ(posted.size(), 500u);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(posted[i], i);
  }
}

TEST(SerialQueue, ABlockSeesWhetherMoreWorkIsWaiting) {
  auto clock = std::make_shared<testing::FakeClock>();
  auto loop = std::make_shared<testing::ManualEventLoop>(clock);
  SerialQueue queue(std::make_shared<testing::LoopExecutor>(loop), "test queue");
  std::vector<bool> pending;
  for (int i = 0; i < 3; ++i) queue.post([&] { pending.push_back(queue.hasPendingWork()); });
  EXPECT_TRUE(queue.hasPendingWork());
  loop->runUntilIdle();
  EXPECT_EQ(pending, (std::vector<bool>{true, true, false}));
  EXPECT_FALSE(queue.hasPendingWork());
}

TEST(SerialQueue, QueuedWorkOutlivesTheQueueAndSurvivesAThrowingBlock) {
  testing::ScopedRecordingLogger log;
  auto clock = std::make_shared<testing::FakeClock>();
  auto loop = std::make_shared<testing::ManualEventLoop>(clock);
  std::vector<int> ran;
  {
    SerialQueue queue(std::make_shared<testing::LoopExecutor>(loop), "test queue");
    queue.post([&] { ran.push_back(1); });
    queue.post([] { throw std::runtime_error("block failed"); });
    queue.post([&] { ran.push_back(3); });
  }
  loop->runUntilIdle();
  EXPECT_EQ(ran, (std::vector<int>{1, 3}));
  EXPECT_TRUE(log->contains("block failed"));
  EXPECT_TRUE(log->contains("test queue"));
}

TEST(SerialQueue, ALongBurstLetsTheExecutorsOtherWorkIn) {
  auto clock = std::make_shared<testing::FakeClock>();
  auto loop = std::make_shared<testing::ManualEventLoop>(clock);
  auto executor = std::make_shared<testing::LoopExecutor>(loop);
  SerialQueue queue(executor, "test queue");
  std::vector<int> order;
  for (int i = 0; i < 200; ++i) queue.post([&order, i] { order.push_back(i); });
  executor->execute([&] { order.push_back(-1); });
  loop->runUntilIdle();
  ASSERT_EQ(order.size(), 201u);
  EXPECT_NE(order.back(), -1);  // the other work did not wait for the whole burst
  EXPECT_NE(order.front(), -1);
}

}  // namespace
}  // namespace loomset
