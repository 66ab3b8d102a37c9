#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
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

TEST(AsioEventLoop, RunsBlocksInOrderOnItsOwnNamedThread) {
  AsioEventLoop loop("loomset-test-loop-name");
  EXPECT_EQ(loop.name(), "loomset-test-loop-name");
  EXPECT_FALSE(loop.isCurrent());

  std::vector<int> order;
  std::vector<std::thread::id> threads;
  std::atomic<bool> allCurrent{true};
  for (int i = 0; i < 500; ++i) {
    loop.post([&, i] {
      order.push_back(i);
      threads.push_back(std::this_thread::get_id());
      if (!loop.isCurrent()) allCurrent = false;
    });
  }
  std::string threadName;
  loop.postAndWait([&] {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    threadName = name;
  });

  ASSERT_EQ(order.size(), 500u);
  for (int i = 0; i < 500; ++i) EXPECT_EQ(order[i], i);
  for (const auto& id : threads) EXPECT_EQ(id, threads.front());
  EXPECT_NE(threads.front(), std::this_thread::get_id());
  EXPECT_TRUE(allCurrent);
  // Linux keeps 15 characters of a thread name.
  EXPECT_EQ(threadName, "loomset-test-lo");
}

TEST(AsioEventLoop, KeepsEachPostersOrderUnderConcurrentPosting) {
  AsioEventLoop loop("loomset-test");
  constexpr int kThreads = 4;
  constexpr int kPerThread = 300;
  std::vector<std::vector<int>> seen(kThreads);
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) loop.post([&seen, t, i] { seen[t].push_back(i); });
    });
  }
  for (auto& p : posters) p.join();
  loop.postAndWait([] {});
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i) EXPECT_EQ(seen[t][i], i);
  }
}

TEST(AsioEventLoop, ThrowingBlocksAreLoggedAndTheLoopGoesOn) {
  testing::ScopedRecordingLogger log;
  AsioEventLoop loop("loomset-test");
  std::atomic<int> ran{0};
  loop.post([] { throw std::runtime_error("first failure"); });
  loop.post([&] { ++ran; });
  loop.post([] { throw 42; });
  loop.postAndWait([] { throw std::logic_error("waited failure"); });
  loop.postAndWait([&] { ++ran; });
  EXPECT_EQ(ran.load(), 2);
  EXPECT_TRUE(log->contains("first failure"));
  EXPECT_TRUE(log->contains("waited failure"));
  EXPECT_EQ(log->count("Caught exception"), 3);
  EXPECT_EQ(log->messages(kMOXLogLevelError).size(), 3u);
}

TEST(AsioEventLoop, PostAndWaitRunsInlineOnTheLoopAndWaitsFromOutside) {
  AsioEventLoop loop("loomset-test");
  std::vector<std::string> steps;
  loop.postAndWait([&] {
    steps.push_back("outer start");
    // Waiting on our own loop would deadlock; it must run at once instead.
    loop.postAndWait([&] { steps.push_back("inner"); });
    steps.push_back("outer end");
  });
  EXPECT_EQ(steps, (std::vector<std::string>{"outer start", "inner", "outer end"}));

  // From outside, the caller sees the block's effects when the call returns, and blocks posted
  // before it have run first.
  int value = 0;
  loop.post([&] { value = 1; });
  loop.postAndWait([&] { value *= 10; });
  EXPECT_EQ(value, 10);
}

TEST(AsioEventLoop, DestructionRunsPostedBlocksAndDoesNotWaitForTimers) {
  std::atomic<int> ran{0};
  std::atomic<bool> timerFired{false};
  {
    AsioEventLoop loop("loomset-test");
    loop.post([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
    for (int i = 0; i < 200; ++i) {
      loop.post([&ran, &loop] {
        ++ran;
        // Blocks posted while draining are still run.
        if (ran == 1) loop.post([&ran] { ++ran; });
      });
    }
    loop.postAfter(3600, [&] { timerFired = true; });
    loop.postRepeating(3600, [&] { timerFired = true; });
  }
  EXPECT_EQ(ran.load(), 201);
  EXPECT_FALSE(timerFired.load());
}

TEST(AsioEventLoop, LastReferenceDroppedOnItsOwnThreadDoesNotDeadlock) {
  auto loop = std::make_shared<AsioEventLoop>("loomset-test");
  std::mutex mu;
  std::atomic<bool> released{false};
  std::atomic<bool> afterRan{false};
  std::atomic<bool> finished{false};
  loop->post([keep = loop, &released, &afterRan, &finished]() mutable {
    keep->post([&afterRan] { afterRan = true; });
    waitFor([&] { return released.load(); });
    keep.reset();  // the loop's destructor runs here, on the loop's thread
    finished = true;
  });
  loop.reset();
  released = true;
  ASSERT_TRUE(waitFor([&] { return finished.load(); }));
  // The block posted before the loop was dropped still runs while the thread winds down.
  EXPECT_TRUE(waitFor([&] { return afterRan.load(); }));
}

}  // namespace
}  // namespace loomset
