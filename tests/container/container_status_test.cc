// Status observers of containers and managers: where the resource in use came from, the last and
// the next fetch, delivered on the main loop and never under a lock of the library.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "ContainerTestEnvironment.h"
#include "loomset/MOXContainerStatus.h"

namespace loomset {
namespace {

using testing::constantResource;
using testing::ContainerTestEnvironment;
using testing::LocalHttpServer;
using testing::RecordingCallback;
using testing::savedCopyBytes;

constexpr char kId[] = "GTM-STATUS";
constexpr double kHourMillis = 3600 * 1000.0;

class ContainerStatusTest : public ::testing::Test {
 protected:
  ContainerStatusTest() {
    env.writeBundleFile(std::string(kId) + ".json", R"({"greeting": "shipped"})");
    env.server().setResource(kId, constantResource("12", {{"greeting", "fetched"}}), "fp-12");
    manager = env.newManager();
    managerToken = manager->addContainerStatusObserver(
        [this](const MOXContainerStatus& status) { managerHeard.push_back(status); });
  }

  std::shared_ptr<MOXContainer> open(std::size_t events) {
    container = manager->openContainerById(kId, callback);
    EXPECT_NE(container, nullptr);
    EXPECT_TRUE(env.runUntilEvents(*callback, events));
    env.platform().runUntilIdle();
    return container;
  }

  ContainerTestEnvironment env;
  std::shared_ptr<MOXManager> manager;
  std::shared_ptr<RecordingCallback> callback = std::make_shared<RecordingCallback>();
  std::shared_ptr<MOXContainer> container;
  std::vector<MOXContainerStatus> managerHeard;
  MOXObserverToken managerToken = 0;
};

TEST_F(ContainerStatusTest, AFetchIsReportedWithItsTimeAndTheNextOne) {
  open(4);  // no saved copy, then a fetch
  ASSERT_FALSE(managerHeard.empty());
  const MOXContainerStatus last = managerHeard.back();
  EXPECT_EQ(last.containerId, kId);
  EXPECT_EQ(last.resourceVersion, "12");
  EXPECT_EQ(last.source, kMOXContainerSourceNetwork);
  EXPECT_EQ(last.lastFetchOutcome, kMOXContainerFetchSucceeded);
  const double now = env.platform().clock().nowMillis();
  EXPECT_EQ(last.lastFetchTimeMillis, now);
  EXPECT_EQ(last.nextFetchTimeMillis, now + 12 * kHourMillis);
  EXPECT_FALSE(last.fetching);
  EXPECT_FALSE(last.closed);
  // The fetch was seen starting, with nothing scheduled while it ran.
  bool sawFetching = false;
  for (const auto& status : managerHeard) {
    if (status.fetching) {
      sawFetching = true;
      EXPECT_EQ(status.nextFetchTimeMillis, 0);
      EXPECT_EQ(status.source, kMOXContainerSourceDefault);
    }
  }
  EXPECT_TRUE(sawFetching);
  // The getter answers the same.
  const MOXContainerStatus now_ = container->status();
  EXPECT_EQ(now_.source, kMOXContainerSourceNetwork);
  EXPECT_EQ(now_.nextFetchTimeMillis, last.nextFetchTimeMillis);
}

TEST_F(ContainerStatusTest, AFailedFetchKeepsTheSourceAndSchedulesTheRetry) {
  env.server().enqueue(LocalHttpServer::Response::text(500, "down"));
  open(4);
  const MOXContainerStatus last = managerHeard.back();
  EXPECT_EQ(last.source, kMOXContainerSourceDefault);
  EXPECT_EQ(last.resourceVersion, "");
  EXPECT_EQ(last.lastFetchOutcome, kMOXContainerFetchFailed);
  EXPECT_EQ(last.lastFetchFailure, kMOXContainerCallbackRefreshFailureNetworkError);
  const double now = env.platform().clock().nowMillis();
  EXPECT_EQ(last.lastFetchTimeMillis, now);
  EXPECT_EQ(last.nextFetchTimeMillis, now + kHourMillis);
}

TEST_F(ContainerStatusTest, TheSavedCopyIsReportedAsTheSource) {
  const double savedAt = env.platform().clock().nowMillis() - kHourMillis;
  env.writeSavedFile(kId, savedCopyBytes(constantResource("7", {{"greeting", "saved"}}), "fp-7",
                                         static_cast<std::int64_t>(savedAt)));
  open(2);
  const MOXContainerStatus last = managerHeard.back();
  EXPECT_EQ(last.source, kMOXContainerSourceSaved);
  EXPECT_EQ(last.resourceVersion, "7");
  EXPECT_EQ(last.lastFetchOutcome, kMOXContainerFetchNone);
  EXPECT_EQ(last.nextFetchTimeMillis, savedAt + 12 * kHourMillis);
}

TEST_F(ContainerStatusTest, ObserversAreCalledOnTheMainLoopOnlyAndMayUseTheContainer) {
  open(4);
  std::vector<std::string> versions;
  // Reading the container from the observer must not deadlock: no library lock is held.
  container->addStatusObserver([this, &versions](const MOXContainerStatus&) {
    EXPECT_TRUE(env.platform().mainLoop().isCurrent());
    versions.push_back(container->resourceVersion());
  });
  container->refresh();
  EXPECT_TRUE(versions.empty()) << "nothing is called before the main loop runs";
  env.platform().runUntilIdle();
  ASSERT_FALSE(versions.empty());
  EXPECT_EQ(versions.back(), "12");
}

TEST_F(ContainerStatusTest, RemovedObserversAreNotCalledAndThrowingOnesAreLogged) {
  open(4);
  int removedCalls = 0;
  int laterCalls = 0;
  const MOXObserverToken removed =
      container->addStatusObserver([&](const MOXContainerStatus&) { ++removedCalls; });
  container->addStatusObserver(
      [](const MOXContainerStatus&) { throw std::runtime_error("observer broke"); });
  container->addStatusObserver([&](const MOXContainerStatus&) { ++laterCalls; });
  EXPECT_EQ(container->addStatusObserver(nullptr), 0u);

  container->refresh();
  container->removeStatusObserver(removed);  // before the main loop delivers
  env.platform().runUntilIdle();
  EXPECT_EQ(removedCalls, 0);
  EXPECT_GE(laterCalls, 1) << "an observer that throws does not stop the next one";
  EXPECT_TRUE(env.log().contains("observer broke"));

  const std::size_t heard = managerHeard.size();
  manager->removeContainerStatusObserver(managerToken);
  container->close();
  env.platform().runUntilIdle();
  EXPECT_EQ(managerHeard.size(), heard);
  EXPECT_TRUE(container->status().closed);
  EXPECT_EQ(container->status().nextFetchTimeMillis, 0);
}

}  // namespace
}  // namespace loomset
