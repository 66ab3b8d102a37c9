// Opening through MOXContainerOpener: what completes each open type, the timeout on the main
// loop, openings of one id sharing one opening, and `get` on other threads.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "ContainerTestEnvironment.h"
#include "loomset/MOXContainerOpener.h"

namespace loomset {
namespace {

using testing::constantResource;
using testing::ContainerServer;
using testing::ContainerTestEnvironment;
using testing::LocalHttpServer;
using testing::savedCopyBytes;

constexpr char kId[] = "GTM-OPEN";
constexpr double kHourMillis = 3600 * 1000.0;

class ContainerOpenerTest : public ::testing::Test {
 protected:
  ContainerOpenerTest() {
    env.writeBundleFile(std::string(kId) + ".json", R"({"greeting": "shipped"})");
    env.server().setResource(kId, constantResource("12", {{"greeting", "fetched"}}), "fp-12");
  }

  // Fetches of the container wait until the test's server is destroyed (other ids are answered).
  void holdFetches() { env.server().holdFetchesOf(kId); }

  void writeSavedCopy(double ageMillis) {
    env.writeSavedFile(
        kId,
        savedCopyBytes(constantResource("5", {{"greeting", "saved"}}), "fp-5",
                       static_cast<std::int64_t>(env.platform().clock().nowMillis() - ageMillis)));
  }

  std::shared_ptr<MOXContainerFuture> open(MOXOpenType type, const double* timeout = nullptr) {
    return MOXContainerOpener::openContainerWithId(kId, manager, type, timeout);
  }

  ContainerTestEnvironment env;
  std::shared_ptr<MOXManager> manager = env.newManager();
};

TEST_F(ContainerOpenerTest, PreferNonDefaultCompletesWithTheFirstFetchNotTheMissingSavedCopy) {
  holdFetches();
  const auto future = open(kMOXOpenTypePreferNonDefault);
  ASSERT_NE(future, nullptr);
  EXPECT_FALSE(future->isDone());
  ASSERT_TRUE(env.runUntil([&] { return env.server().fetchCount() == 1; }));
  env.platform().runUntilIdle();  // the saved copy is missing: still waiting
  EXPECT_FALSE(future->isDone());
  env.server().releaseHeldFetches();
  ASSERT_TRUE(env.runUntil([&] { return future->isDone(); }));
  EXPECT_EQ(future->get()->stringForKey("greeting"), "fetched");
  EXPECT_EQ(future->get(), manager->getContainerById(kId));
  // Completed by its waiter: no timeout is left pending, only the container's next fetch.
  EXPECT_EQ(env.platform().mainLoop().pendingTimers(), 1u);

  // An open, idle container is available at once.
  const auto again = open(kMOXOpenTypePreferFresh);
  EXPECT_TRUE(again->isDone());
  EXPECT_EQ(again->get(), future->get());
}

TEST_F(ContainerOpenerTest, PreferNonDefaultTakesASavedCopyOfAnyAge) {
  writeSavedCopy(100 * kHourMillis);
  holdFetches();
  const auto future = open(kMOXOpenTypePreferNonDefault);
  env.platform().runUntilIdle();
  ASSERT_TRUE(future->isDone());
  EXPECT_EQ(future->get()->stringForKey("greeting"), "saved");
}

TEST_F(ContainerOpenerTest, PreferFreshWaitsForTheNetworkWhenTheSavedCopyIsOld) {
  writeSavedCopy(13 * kHourMillis);
  holdFetches();
  const auto stale = open(kMOXOpenTypePreferFresh);
  env.platform().runUntilIdle();
  EXPECT_FALSE(stale->isDone());
  EXPECT_EQ(manager->getContainerById(kId)->stringForKey("greeting"), "saved");
  // The fetch is held: the timeout completes the opening with what the container has.
  env.platform().advanceAndRun(2.0);
  ASSERT_TRUE(stale->isDone());
  EXPECT_EQ(stale->get()->stringForKey("greeting"), "saved");
}

TEST_F(ContainerOpenerTest, PreferFreshTakesARecentSavedCopyOrAnyFetchResult) {
  writeSavedCopy(1 * kHourMillis);
  holdFetches();
  const auto recent = open(kMOXOpenTypePreferFresh);
  env.platform().runUntilIdle();
  EXPECT_TRUE(recent->isDone());
  manager->getContainerById(kId)->close();

  // A failed fetch completes it too, with the default container.
  manager->setVeskServerAddress("http://127.0.0.1:" +
                                std::to_string(LocalHttpServer::unusedPort()));
  env.writeSavedFile(kId, "");
  const auto failed = open(kMOXOpenTypePreferFresh);
  ASSERT_TRUE(env.runUntil([&] { return failed->isDone(); }));
  EXPECT_TRUE(failed->get()->isDefault());
  EXPECT_EQ(failed->get()->stringForKey("greeting"), "shipped");
}

TEST_F(ContainerOpenerTest, TheTimeoutCompletesTheOpeningWithTheContainerAsItIs) {
  holdFetches();
  const auto future = open(kMOXOpenTypePreferNonDefault);
  env.platform().advanceAndRun(1.75);
  EXPECT_FALSE(future->isDone());
  env.platform().advanceAndRun(0.25);
  ASSERT_TRUE(future->isDone());
  EXPECT_TRUE(future->get()->isDefault());
  EXPECT_EQ(future->get()->stringForKey("greeting"), "shipped");
}

TEST_F(ContainerOpenerTest, AnExcessiveTimeoutIsWarnedAboutAndStillUsed) {
  holdFetches();
  const double timeout = 150;
  const auto future = open(kMOXOpenTypePreferNonDefault, &timeout);
  EXPECT_TRUE(
      env.log().contains("Excessive timeout detected (150.000000). Timeout should be in seconds."));
  env.platform().advanceAndRun(149);
  EXPECT_FALSE(future->isDone());
  env.platform().advanceAndRun(1);
  EXPECT_TRUE(future->isDone());
}

TEST_F(ContainerOpenerTest, OpeningsOfOneIdInARowShareTheFirstOpening) {
  holdFetches();
  const double shortTimeout = 0.5;
  const auto first = open(kMOXOpenTypePreferNonDefault);
  const auto second = open(kMOXOpenTypePreferFresh, &shortTimeout);
  env.platform().advanceAndRun(1.0);
  EXPECT_FALSE(second->isDone()) << "the second opening's own timeout played a part";
  env.platform().advanceAndRun(1.0);
  ASSERT_TRUE(first->isDone());
  ASSERT_TRUE(second->isDone());
  EXPECT_EQ(first->get(), second->get());
}

// Openings that start together on several threads: one of them opens the container (outside the
// notifier map's lock), the others join it rather than opening the id again.
TEST_F(ContainerOpenerTest, OpeningsOfOneIdFromManyThreadsOpenItOnce) {
  constexpr int kThreads = 4;
  std::vector<std::shared_ptr<MOXContainerFuture>> futures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] { futures[t] = open(kMOXOpenTypePreferNonDefault); });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(env.runUntil([&] {
    for (const auto& future : futures) {
      if (!future->isDone()) return false;
    }
    return true;
  }));
  const auto opened = manager->getContainerById(kId);
  ASSERT_NE(opened, nullptr);
  for (const auto& future : futures) EXPECT_EQ(future->get(), opened);
  EXPECT_FALSE(env.log().contains("has already been opened"));
  EXPECT_EQ(env.server().fetchCount(), 1u);
}

TEST_F(ContainerOpenerTest, GetOnAnotherThreadReturnsByTheTimeout) {
  holdFetches();
  const auto future = open(kMOXOpenTypePreferNonDefault);
  auto waiting = std::async(std::launch::async, [future] { return future->get(); });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  env.platform().advanceAndRun(2.0);
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(waiting.get(), manager->getContainerById(kId));

  // The promised one-liner, on a thread of the application's.
  env.server().setResource("GTM-OTHER", constantResource("3", {{"greeting", "hello"}}), "f3");
  auto oneLiner = std::async(std::launch::async, [this] {
    return MOXContainerOpener::openContainerWithId("GTM-OTHER", manager,
                                                   kMOXOpenTypePreferNonDefault, nullptr)
        ->get()
        ->stringForKey("greeting");
  });
  ASSERT_TRUE(env.runUntil(
      [&] { return oneLiner.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_EQ(oneLiner.get(), "hello");
}

TEST_F(ContainerOpenerTest, GetOnTheMainLoopAnswersAtOnceInsteadOfHanging) {
  holdFetches();
  const auto future = open(kMOXOpenTypePreferNonDefault);
  std::shared_ptr<MOXContainer> answered;
  env.platform().mainLoop().post([&] { answered = future->get(); });
  env.platform().runUntilIdle();
  EXPECT_EQ(answered, manager->getContainerById(kId));
  EXPECT_FALSE(future->isDone());
}

TEST_F(ContainerOpenerTest, DefaultContainerModeCompletesAtTheTimeout) {
  manager->setRefreshMode(kMOXRefreshModeDefaultContainer);
  const auto future = open(kMOXOpenTypePreferNonDefault);
  env.platform().advanceAndRun(1.75);
  EXPECT_FALSE(future->isDone());
  env.platform().advanceAndRun(0.25);
  ASSERT_TRUE(future->isDone());
  EXPECT_EQ(future->get()->stringForKey("greeting"), "shipped");
  EXPECT_EQ(env.server().fetchCount(), 0u);
}

TEST_F(ContainerOpenerTest, MissingArgumentsOpenNothing) {
  EXPECT_EQ(MOXContainerOpener::openContainerWithId("", manager, kMOXOpenTypePreferFresh, nullptr),
            nullptr);
  EXPECT_TRUE(env.log().contains("containerId must be non-nil"));
  EXPECT_EQ(MOXContainerOpener::openContainerWithId(kId, nullptr, kMOXOpenTypePreferFresh, nullptr),
            nullptr);
  EXPECT_TRUE(env.log().contains("moxManager must be non-nil"));
  MOXContainerOpener::openContainerWithId(kId, manager, kMOXOpenTypePreferFresh, nullptr, nullptr);
  EXPECT_TRUE(env.log().contains("notifier must be non-nil"));
  EXPECT_EQ(manager->getContainerById(kId), nullptr);
}

}  // namespace
}  // namespace loomset
