// The pending fetch of a container on the main loop, with the fake clock deciding when timers fire
// and a real server answering the fetches.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Library/Util/http/CurlHttpClient.h"
#include "container/LoadingTestSupport.h"
#include "container/loading/MOXResourceLoaderScheduler.h"
#include "support/LocalHttpServer.h"
#include "support/RecordingLoadCallback.h"
#include "support/RecordingLogger.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

using testing::LocalHttpServer;
using Recorder = testing::RecordingLoadCallback<MOXPLegacyRawProtoSupplementedResource>;

constexpr double kTwelveHoursMillis = 43200000;

class ResourceLoaderSchedulerTest : public ::testing::Test {
 protected:
  ResourceLoaderSchedulerTest() {
    server_.setResponse("/r", LocalHttpServer::Response::text(200, ""));
    MOXResourceLoaderScheduler::Options options;
    options.loader.client = client_;
    scheduler_ = MOXResourceLoaderScheduler::create("GTM-1", options);
    scheduler_->setLoadCallback(callback_);
    scheduler_->setVeskServerAddress(server_.baseUrl());
  }

  testing::ManualEventLoop& loop() { return platform_.mainLoop(); }
  // Waits for the fetches the server has seen to be answered.
  void awaitResults(std::size_t count) {
    ASSERT_TRUE(testing::driveUntil(loop(), [&] { return callback_->results() >= count; }));
    testing::driveFor(loop(), std::chrono::milliseconds(20));
  }

  testing::ScopedPlatform platform_;
  testing::ScopedRecordingLogger log_;
  LocalHttpServer server_;
  std::shared_ptr<HttpClient> client_ = std::make_shared<CurlHttpClient>();
  std::shared_ptr<Recorder> callback_ = std::make_shared<Recorder>();
  std::shared_ptr<MOXResourceLoaderScheduler> scheduler_;
};

TEST_F(ResourceLoaderSchedulerTest, EachRequestReplacesThePendingOne) {
  scheduler_->loadAfterDelay(1000, std::string("fp-first"));
  scheduler_->loadAfterDelay(kTwelveHoursMillis, std::string("fp-second"));
  EXPECT_TRUE(log_->contains("scheduleTask: containerId=GTM-1 delay=43200000.000000"));

  loop().advanceAndRun(43199.0);
  EXPECT_EQ(server_.requestCount(), 0u);
  EXPECT_TRUE(scheduler_->hasPendingFetch());
  loop().advanceAndRun(1.0);
  awaitResults(1);

  ASSERT_EQ(server_.requestCount(), 1u);
  EXPECT_EQ(server_.requests()[0].target, "/r?id=GTM-1&v=i107577340&pv=fp-second");
  EXPECT_EQ(callback_->summary(), "start success");
  EXPECT_FALSE(scheduler_->hasPendingFetch());
}

TEST_F(ResourceLoaderSchedulerTest, FetchesWithTheCurrentPathOverride) {
  scheduler_->setVeskUrlPathAndQuery("/r?id=GTM-1&wen_auth=abc&wen_preview=2");
  scheduler_->loadAfterDelay(0, std::nullopt);
  loop().runUntilIdle();
  awaitResults(1);
  EXPECT_TRUE(log_->contains("Setting VESK url path to /r?id=GTM-1&wen_auth=abc&wen_preview=2"));
  EXPECT_TRUE(log_->contains("Setting VESK server address to " + server_.baseUrl()));

  // Leaving preview restores the default path.
  scheduler_->setVeskUrlPathAndQuery(std::nullopt);
  scheduler_->loadAfterDelay(0, std::string(" "));
  loop().runUntilIdle();
  awaitResults(2);

  ASSERT_EQ(server_.requestCount(), 2u);
  EXPECT_EQ(server_.requests()[0].target, "/r?id=GTM-1&wen_auth=abc&wen_preview=2&v=i107577340");
  EXPECT_EQ(server_.requests()[1].target, "/r?id=GTM-1&v=i107577340");
}

TEST_F(ResourceLoaderSchedulerTest, CloseStopsThePendingFetchAndTheOneUnderWay) {
  scheduler_->loadAfterDelay(5000, std::nullopt);
  scheduler_->close();
  loop().advanceAndRun(10.0);
  EXPECT_EQ(server_.requestCount(), 0u);
  EXPECT_FALSE(scheduler_->hasPendingFetch());

  // Closed for good: later requests are not scheduled.
  scheduler_->loadAfterDelay(0, std::nullopt);
  loop().advanceAndRun(1.0);
  EXPECT_EQ(server_.requestCount(), 0u);

  // A fetch already sent is cancelled: its answer reaches nobody.
  LocalHttpServer::Response held = LocalHttpServer::Response::text(200, "");
  held.holdUntilReleased = true;
  server_.setResponse("/r", held);
  MOXResourceLoaderScheduler::Options options;
  options.loader.client = client_;
  auto running = MOXResourceLoaderScheduler::create("GTM-1", options);
  running->setLoadCallback(callback_);
  running->setVeskServerAddress(server_.baseUrl());
  running->loadAfterDelay(0, std::nullopt);
  loop().runUntilIdle();
  ASSERT_TRUE(server_.waitForRequests(1));
  running->close();
  server_.releaseHeldResponses();
  testing::driveFor(loop(), std::chrono::milliseconds(200));
  EXPECT_EQ(callback_->summary(), "start");
}

TEST_F(ResourceLoaderSchedulerTest, WithoutLoadCallbackLogsAnErrorAndFetchesNothing) {
  scheduler_->setLoadCallback(nullptr);
  scheduler_->loadAfterDelay(0, std::nullopt);
  EXPECT_NO_THROW(loop().runUntilIdle());
  testing::driveFor(loop(), std::chrono::milliseconds(50));

  EXPECT_EQ(server_.requestCount(), 0u);
  const auto errors = log_->messages(kMOXLogLevelError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Callback must be set before scheduleTaskWithDelay is called.");
}

TEST_F(ResourceLoaderSchedulerTest, ADroppedSchedulerFetchesNothing) {
  scheduler_->loadAfterDelay(0, std::nullopt);
  scheduler_.reset();
  testing::driveFor(loop(), std::chrono::milliseconds(50));
  EXPECT_EQ(server_.requestCount(), 0u);
  EXPECT_EQ(loop().pendingTimers(), 0u);
}

}  // namespace
}  // namespace loomset
