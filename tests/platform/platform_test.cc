#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "Library/Util/platform/PosixFileSystem.h"
#include "loomset/MOXLog.h"
#include "loomset/platform/Platform.h"
#include "platform/WaitFor.h"
#include "support/RecordingLogger.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

PosixFileSystem& files() {
  static PosixFileSystem fileSystem;
  return fileSystem;
}

using testing::waitFor;

TEST(Platform, SystemDefaultIsCompleteAndItsMainLoopIsShared) {
  const auto a = Platform::systemDefault();
  const auto b = Platform::systemDefault();
  ASSERT_TRUE(a->clock && a->random && a->mainLoop && a->background && a->fileSystem && a->http &&
              a->logger && a->containerWorker && a->analyticsWorker && a->reachability);
  EXPECT_FALSE(a->advertisingId);
  EXPECT_FALSE(a->adAttribution);
  EXPECT_FALSE(a->directories.root().empty());
  // One of each process-wide service, whichever bundle reaches for it.
  EXPECT_EQ(a->mainLoop, b->mainLoop);
  EXPECT_EQ(a->containerWorker, b->containerWorker);
  EXPECT_EQ(a->analyticsWorker, b->analyticsWorker);
  EXPECT_EQ(a->http, b->http);
  EXPECT_EQ(a->logger, b->logger);
  EXPECT_EQ(a->fileSystem, b->fileSystem);
  EXPECT_EQ(a->mainLoop->name(), "loomset-main");
  EXPECT_EQ(a->containerWorker->name(), "MOXThread");
  EXPECT_EQ(a->analyticsWorker->name(), "PLUThread");
  EXPECT_FALSE(a->mainLoop->isCurrent());

  // The wall clock is real: after 2020 and consistent with the reference-date offset.
  EXPECT_GT(a->clock->nowMillis(), 1.58e12);
  EXPECT_NEAR(a->clock->secondsSinceReferenceDate() + Clock::kReferenceDateOffsetSeconds,
              a->clock->nowSeconds(), 1.0);

  // The main loop and the background pool start on first use and do real work.
  std::atomic<bool> onMain{false};
  a->mainLoop->postAndWait([&] { onMain = a->mainLoop->isCurrent(); });
  EXPECT_TRUE(onMain.load());
  std::atomic<bool> background{false};
  a->background->execute([&] { background = true; });
  EXPECT_TRUE(waitFor([&] { return background.load(); }));
}

TEST(Platform, SetCurrentSwapsAndNullRestoresTheDefault) {
  const auto original = Platform::current();
  ASSERT_TRUE(original);
  EXPECT_EQ(Platform::current(), original);

  auto mine = Platform::systemDefault();
  mine->application.name = "Mine";
  Platform::setCurrent(mine);
  EXPECT_EQ(Platform::current(), mine);
  EXPECT_EQ(Platform::current()->application.name, "Mine");

  Platform::setCurrent(nullptr);
  EXPECT_EQ(Platform::current()->application.name, original->application.name);
  Platform::setCurrent(original);
}

TEST(Platform, IncompleteBundlesAreCompletedWithDefaults) {
  testing::ScopedRecordingLogger log;
  const auto original = Platform::current();
  auto partial = std::make_shared<Platform>();
  partial->application.identifier = "org.example.partial";
  partial->device.model = "test-model";
  Platform::setCurrent(partial);
  const auto current = Platform::current();
  const auto defaults = Platform::systemDefault();
  EXPECT_TRUE(current->clock && current->random);
  EXPECT_EQ(current->mainLoop, defaults->mainLoop);
  EXPECT_EQ(current->background, defaults->background);
  EXPECT_EQ(current->fileSystem, defaults->fileSystem);
  EXPECT_EQ(current->http, defaults->http);
  EXPECT_EQ(current->logger, defaults->logger);
  EXPECT_EQ(current->containerWorker, defaults->containerWorker);
  EXPECT_EQ(current->analyticsWorker, defaults->analyticsWorker);
  EXPECT_TRUE(current->reachability);
  EXPECT_FALSE(current->advertisingId);  // optional: absent stays absent
  EXPECT_EQ(current->device.model, "test-model");
  EXPECT_EQ(current->directories.root(), "");
  EXPECT_TRUE(log->contains(
      "clock, random, mainLoop, background, fileSystem, http, logger, containerWorker, "
      "analyticsWorker, reachability; using the system default"));
  Platform::setCurrent(original);
}

TEST(Platform, MOXLogWritesToTheLoggerOfTheBundleInForce) {
  const auto original = Platform::current();
  auto first = std::make_shared<testing::RecordingLogger>();
  auto second = std::make_shared<testing::RecordingLogger>();
  {
    testing::ScopedPlatform platform([&](Platform& p) { p.logger = first; });
    MOXLog::warning("to the first");
    EXPECT_EQ(MOXLog::logger(), first);
    EXPECT_EQ(MOXLog::logLevel(), kMOXLogLevelVerbose);

    // Replacing the logger keeps every other service of the bundle.
    MOXLog::setLogger(second);
    MOXLog::error("to the second");
    EXPECT_EQ(Platform::current()->logger, second);
    EXPECT_EQ(Platform::current()->clock, platform.platform()->clock);
    EXPECT_EQ(Platform::current()->directories.root(), platform.dataRoot());
    MOXLog::setLogger(nullptr);  // ignored
    EXPECT_EQ(MOXLog::logger(), second);
  }
  // The bundle in force before brings its logger back.
  EXPECT_EQ(MOXLog::logger(), original->logger);
  MOXLog::info("elsewhere");
  EXPECT_EQ(first->count("to the"), 1);
  EXPECT_TRUE(first->contains("to the first"));
  EXPECT_EQ(second->count("to the"), 1);
  EXPECT_TRUE(second->contains("to the second"));
  EXPECT_FALSE(first->contains("elsewhere") || second->contains("elsewhere"));
}

TEST(Platform, CurrentIsSafeToReadWhileAnotherThreadSwapsIt) {
  const auto original = Platform::current();
  std::vector<std::shared_ptr<const Platform>> bundles;
  for (int i = 0; i < 3; ++i) {
    auto p = Platform::systemDefault();
    p->application.name = "bundle" + std::to_string(i);
    bundles.push_back(p);
  }
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      while (!stop) {
        const auto p = Platform::current();
        ASSERT_TRUE(p);
        EXPECT_FALSE(p->application.name.empty());
        ++reads;
      }
    });
  }
  for (int i = 0; i < 2000; ++i) Platform::setCurrent(bundles[i % bundles.size()]);
  waitFor([&] { return reads.load() > 100; });
  stop = true;
  for (auto& t : readers) t.join();
  Platform::setCurrent(original);
}

TEST(ScopedPlatform, InstallsFakesAndRestoresThePreviousBundle) {
  const auto before = Platform::current();
  std::string root;
  {
    testing::ScopedPlatform outer;
    const auto p = Platform::current();
    EXPECT_EQ(p, outer.platform());
    EXPECT_EQ(p->clock->nowMillis(), testing::FakeClock::kDefaultStartMillis);
    EXPECT_EQ(p->mainLoop->name(), "loomset-main");
    EXPECT_EQ(p->device.preferredLanguages, (std::vector<std::string>{"en-US", "en"}));
    EXPECT_EQ(p->application.identifier, "org.loomset.tests");
    root = outer.dataRoot();
    EXPECT_TRUE(files().exists(root));
    EXPECT_TRUE(files().exists(outer.resourceDirectory()));

    // Background work and what it posts back run in order on the test's thread.
    std::vector<std::string> steps;
    p->background->execute([&] {
      steps.push_back("work");
      p->mainLoop->post([&] { steps.push_back("result"); });
    });
    EXPECT_TRUE(steps.empty());
    outer.runUntilIdle();
    EXPECT_EQ(steps, (std::vector<std::string>{"work", "result"}));

    {
      testing::ScopedPlatform inner([](Platform& platform) { platform.device.model = "custom"; });
      EXPECT_EQ(Platform::current()->device.model, "custom");
      EXPECT_NE(inner.dataRoot(), root);
      // Services without fakes are those of the bundle it nests in.
      EXPECT_EQ(inner.platform()->http, outer.platform()->http);
      EXPECT_EQ(inner.platform()->analyticsWorker, outer.platform()->analyticsWorker);
    }
    EXPECT_EQ(Platform::current(), outer.platform());
  }
  EXPECT_EQ(Platform::current(), before);
  EXPECT_FALSE(files().exists(root));
}

}  // namespace
}  // namespace loomset
