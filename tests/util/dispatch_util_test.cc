#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Library/Util/MOXDispatchUtil.h"
#include "foundation/MOXAsyncUtil.h"
#include "loomset/MOXManagerVersion.h"
#include "loomset/Objects.h"
#include "support/RecordingLogger.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

TEST(MOXDispatchUtil, WorkerThreadIsCreatedOnceAndNamed) {
  std::vector<EventLoop*> seen(8, nullptr);
  std::vector<std::thread> callers;
  std::atomic<bool> go{false};
  for (std::size_t i = 0; i < seen.size(); ++i) {
    callers.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      seen[i] = &MOXDispatchUtil::thread();
    });
  }
  go = true;
  for (auto& t : callers) t.join();
  for (EventLoop* loop : seen) EXPECT_EQ(loop, seen[0]);

  char name[32] = {};
  MOXDispatchUtil::background([&] { pthread_getname_np(pthread_self(), name, sizeof name); }, true);
  EXPECT_STREQ(name, "MOXThread");
  EXPECT_EQ(MOXDispatchUtil::thread().name(), "MOXThread");
}

TEST(MOXDispatchUtil, NestedWaitingCallsRunInline) {
  std::vector<int> order;
  MOXDispatchUtil::background(
      [&] {
        order.push_back(1);
        MOXDispatchUtil::background([&] { order.push_back(2); }, true);
        // Without waiting, still inline: the worker thread must not queue behind itself.
        MOXDispatchUtil::background([&] { order.push_back(3); }, false);
        MOXDispatchUtil::background(nullptr, true);
        order.push_back(4);
      },
      true);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_FALSE(MOXDispatchUtil::thread().isCurrent());

  std::atomic<bool> ran{false};
  MOXDispatchUtil::background([&] { ran = true; }, false);
  MOXDispatchUtil::background([] {}, true);  // the loop is serial: the first block ran before
  EXPECT_TRUE(ran.load());
}

TEST(MOXDispatchUtil, UserAgentFromDeviceFacts) {
  testing::ScopedPlatform platform;
  EXPECT_EQ(MOXDispatchUtil::userAgentString(),
            "OrvexLoomset/3.17 (x86_64; U; CPU Linux 6.1.0 like Mac OS X; en-us)");
  EXPECT_STREQ(kMOXManagerProduct, "OrvexLoomset");
  EXPECT_STREQ(kMOXManagerVersion, "3.17");

  testing::ScopedPlatform noLanguages([](Platform& p) {
    p.device.preferredLanguages.clear();
    p.device.localeCountry = "DE";
    p.device.model = "iPhone9,1";
  });
  EXPECT_EQ(MOXDispatchUtil::userAgentString(),
            "OrvexLoomset/3.17 (iPhone9,1; U; CPU Linux 6.1.0 like Mac OS X; en-de)");
  EXPECT_EQ(MOXDispatchUtil::systemLanguageFromLanguages({"FR-ca", "en"}), "fr-ca");
  EXPECT_EQ(MOXDispatchUtil::systemLanguageFromLanguages({}), "en");
}

TEST(MOXDispatchUtil, DatabasePathsLiveInTheLibraryDirectory) {
  testing::ScopedPlatform platform;
  EXPECT_EQ(MOXDispatchUtil::databaseFullPath("WEN.sql"), platform.dataRoot() + "/Library/WEN.sql");
  EXPECT_EQ(MOXDispatchUtil::databaseFullURL("WEN.sql"),
            "file://" + platform.dataRoot() + "/Library/WEN.sql");
}

TEST(MOXAsyncUtil, ResultArrivesOnTheMainLoop) {
  testing::ScopedPlatform platform;
  bool onMain = false;
  ObjectPtr result;
  MOXAsyncUtil::invokeAsync([] { return obj::str("done"); },
                            [&](ObjectPtr r) {
                              onMain = platform.mainLoop().isCurrent();
                              result = std::move(r);
                            });
  MOXAsyncUtil::invokeAsync([] { return obj::str("ignored"); }, nullptr);
  platform.runUntilIdle();
  EXPECT_TRUE(onMain);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->description(), "done");

  int typed = 0;
  MOXAsyncUtil::invokeAsyncTyped<int>([] { return 7; }, [&](int v) { typed = v; });
  platform.runUntilIdle();
  EXPECT_EQ(typed, 7);
}

TEST(MOXAsyncUtil, ThrowingWorkIsLoggedAndHasNoResult) {
  testing::ScopedPlatform platform;
  testing::ScopedRecordingLogger log;
  bool called = false;
  MOXAsyncUtil::invokeAsync([]() -> ObjectPtr { throw std::runtime_error("disk on fire"); },
                            [&](ObjectPtr) { called = true; });
  platform.runUntilIdle();
  EXPECT_FALSE(called);
  EXPECT_EQ(log->messages(kMOXLogLevelError),
            std::vector<std::string>{"Caught exception: disk on fire"});
}

}  // namespace
}  // namespace loomset
