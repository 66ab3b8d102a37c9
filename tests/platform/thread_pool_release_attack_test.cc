// A pool released from its own threads, and from another pool's threads, in every way its work can
// hold it: captures of nested work, the body, thrown failures, and two pools holding each other.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

#include "loomset/platform/EventLoop.h"
#include "platform/WaitFor.h"
#include "support/RecordingLogger.h"

namespace loomset {
namespace {

using testing::waitFor;

TEST(ThreadPoolReleaseAttack, LastReferenceInNestedWorkCaptures) {
  for (int round = 0; round < 50; ++round) {
    auto pool = std::make_shared<ThreadPoolExecutor>(1 + round % 3);
    std::atomic<int> ran{0};
    pool->execute([keep = pool, &ran]() mutable {
      auto inner = keep;
      keep->execute([inner, &ran] { ++ran; });
      keep->execute([inner = std::move(inner), &ran] { ++ran; });
      keep.reset();
      ++ran;
    });
    pool.reset();
    ASSERT_TRUE(waitFor([&] { return ran.load() == 3; })) << round;
  }
}

TEST(ThreadPoolReleaseAttack, LastReferenceWithThrowingWork) {
  testing::ScopedRecordingLogger log;
  for (int round = 0; round < 50; ++round) {
    auto pool = std::make_shared<ThreadPoolExecutor>(2);
    std::atomic<int> ran{0};
    pool->execute([keep = pool, &ran] {
      ++ran;
      throw std::runtime_error("boom");
    });
    pool->execute([keep = pool, &ran]() mutable {
      keep.reset();
      ++ran;
      throw 42;
    });
    pool.reset();
    ASSERT_TRUE(waitFor([&] { return ran.load() == 2; })) << round;
  }
}

TEST(ThreadPoolReleaseAttack, TwoPoolsReleaseEachOtherFromTheirThreads) {
  for (int round = 0; round < 50; ++round) {
    auto a = std::make_shared<ThreadPoolExecutor>(1);
    auto b = std::make_shared<ThreadPoolExecutor>(1);
    std::atomic<int> ran{0};
    std::atomic<bool> go{false};
    // A's work holds B and B's work holds A; each drops the other pool from its own thread.
    a->execute([other = b, &ran, &go]() mutable {
      waitFor([&] { return go.load(); });
      other.reset();
      ++ran;
    });
    b->execute([other = a, &ran, &go]() mutable {
      waitFor([&] { return go.load(); });
      other.reset();
      ++ran;
    });
    // The work on each pool also holds its own pool.
    a->execute([keep = a, &ran] { ++ran; });
    b->execute([keep = b, &ran] { ++ran; });
    a.reset();
    b.reset();
    go = true;
    ASSERT_TRUE(waitFor([&] { return ran.load() == 4; })) << round;
  }
}

TEST(ThreadPoolReleaseAttack, DestroyedByAnotherPoolWhileItsWorkIsQueued) {
  for (int round = 0; round < 30; ++round) {
    auto victim = std::make_unique<ThreadPoolExecutor>(2);
    std::atomic<int> ran{0};
    for (int i = 0; i < 20; ++i) victim->execute([&ran] { ++ran; });
    std::atomic<bool> done{false};
    {
      ThreadPoolExecutor killer(1);
      killer.execute([&] {
        victim.reset();  // joins the victim from the killer's thread
        done = true;
      });
    }
    EXPECT_TRUE(done.load());
    EXPECT_EQ(ran.load(), 20);
  }
}

TEST(ThreadPoolReleaseAttack, ReleasedInTheBodyWhileOtherThreadsRun) {
  for (int round = 0; round < 50; ++round) {
    auto pool = std::make_shared<ThreadPoolExecutor>(4);
    std::atomic<int> ran{0};
    auto* raw = pool.get();
    std::shared_ptr<ThreadPoolExecutor> holder = pool;
    pool.reset();
    for (int i = 0; i < 8; ++i) raw->execute([&ran] { ++ran; });
    raw->execute([holder = std::move(holder), &ran]() mutable {
      holder.reset();
      ++ran;
    });
    ASSERT_TRUE(waitFor([&] { return ran.load() == 9; })) << round;
  }
}

// The caller moves its only reference into the work it hands over: the pool may be released on
// its own thread while `execute` is still returning on the caller's.
TEST(ThreadPoolReleaseAttack, OnlyReferenceMovedIntoTheWorkItIsGiven) {
  for (int round = 0; round < 300; ++round) {
    auto pool = std::make_shared<ThreadPoolExecutor>(2);
    std::atomic<bool> ran{false};
    ThreadPoolExecutor* raw = pool.get();
    raw->execute([keep = std::move(pool), &ran]() mutable {
      keep.reset();
      ran = true;
    });
    ASSERT_TRUE(waitFor([&] { return ran.load(); })) << round;
  }
}

}  // namespace
}  // namespace loomset
