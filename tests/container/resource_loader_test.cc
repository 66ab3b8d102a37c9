// Network fetches of a container against a real server on 127.0.0.1: the request URL, how each
// kind of answer is reported, the time-out, and cancelling.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "Library/Util/http/CurlHttpClient.h"
#include "container/LoadingTestSupport.h"
#include "container/loading/MOXResourceLoader.h"
#include "platform/WaitFor.h"
#include "support/LocalHttpServer.h"
#include "support/RecordingHttpClient.h"
#include "support/RecordingLoadCallback.h"
#include "support/RecordingLogger.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

using testing::LocalHttpServer;
using Recorder = testing::RecordingLoadCallback<MOXPLegacyRawProtoSupplementedResource>;
using Kind = Recorder::Kind;

class ResourceLoaderTest : public ::testing::Test {
 protected:
  std::shared_ptr<MOXResourceLoader> loader(const std::string& containerId = "GTM-1",
                                            double timeoutSeconds = 60) {
    MOXResourceLoader::Options options;
    options.client = client_;
    options.timeoutSeconds = timeoutSeconds;
    auto loader = MOXResourceLoader::create(containerId, options);
    loader->setCallback(callback_);
    loader->setVeskServerAddress(server_.baseUrl());
    return loader;
  }

  // Starts the fetch and drives the main loop until its result has arrived.
  void fetch(const std::shared_ptr<MOXResourceLoader>& loader) {
    loader->loadResourceAsync();
    ASSERT_TRUE(testing::driveUntil(platform_.mainLoop(), [&] { return callback_->results(); }));
    // Anything more would arrive by now.
    testing::driveFor(platform_.mainLoop(), std::chrono::milliseconds(20));
  }

  static std::string serialized(const MOXPLegacyRawProtoSupplementedResource& message) {
    std::string bytes;
    message.SerializeToString(&bytes);
    return bytes;
  }

  testing::ScopedPlatform platform_;
  testing::ScopedRecordingLogger log_;
  LocalHttpServer server_;
  std::shared_ptr<HttpClient> client_ = std::make_shared<CurlHttpClient>();
  std::shared_ptr<Recorder> callback_ = std::make_shared<Recorder>();
};

TEST_F(ResourceLoaderTest, BuildsTheRequestUrlFromServerPathVersionAndFingerprint) {
  auto fetcher = MOXResourceLoader::create("GTM-1");
  EXPECT_EQ(fetcher->veskUrl(),
            std::string(kMOXDefaultVeskServerAddress) + "/r?id=GTM-1&v=i107577340");

  fetcher->setVeskServerAddress("http://127.0.0.1:8080");
  const struct {
    std::optional<std::string> previousVersion;
    std::string expected;
  } cases[] = {
      {std::nullopt, "http://127.0.0.1:8080/r?id=GTM-1&v=i107577340"},
      {"", "http://127.0.0.1:8080/r?id=GTM-1&v=i107577340"},
      {"  \t\n ", "http://127.0.0.1:8080/r?id=GTM-1&v=i107577340"},
      // Sent as it is, surrounding spaces included.
      {" 7dbd3579 ", "http://127.0.0.1:8080/r?id=GTM-1&v=i107577340&pv= 7dbd3579 "},
      {"7dbd3579", "http://127.0.0.1:8080/r?id=GTM-1&v=i107577340&pv=7dbd3579"},
  };
  for (const auto& c : cases) {
    fetcher->setPreviousVersion(c.previousVersion);
    EXPECT_EQ(fetcher->veskUrl(), c.expected) << "pv: " << c.previousVersion.value_or("(none)");
  }

  // A preview path replaces the default path and query; the version and "pv" follow it.
  fetcher->setVeskUrlPathAndQuery("/r?id=GTM-1&wen_auth=abc&wen_preview=4");
  EXPECT_EQ(fetcher->veskUrl(),
            "http://127.0.0.1:8080/r?id=GTM-1&wen_auth=abc&wen_preview=4&v=i107577340&pv=7dbd3579");
  fetcher->setVeskUrlPathAndQuery(std::nullopt);
  fetcher->setVeskServerAddress(std::nullopt);
  fetcher->setPreviousVersion(std::nullopt);
  EXPECT_EQ(fetcher->veskUrl(),
            std::string(kMOXDefaultVeskServerAddress) + "/r?id=GTM-1&v=i107577340");
}

TEST_F(ResourceLoaderTest, ReportsAParsedResourceOnTheMainLoop) {
  MOXPLegacyRawProtoSupplementedResource answer;
  *answer.mutable_resource() = testing::versionedResource("7");
  answer.add_supplemental()->set_name("experiment");
  answer.set_fingerprint("fp-7");
  server_.setResponse("/r", LocalHttpServer::Response::text(200, serialized(answer)));

  auto fetcher = loader();
  fetcher->setPreviousVersion("fp-6");
  fetch(fetcher);

  EXPECT_EQ(callback_->summary(), "start success");
  const auto result = callback_->result();
  ASSERT_TRUE(result.resource.has_value());
  EXPECT_EQ(result.resource->resource().version(), "7");
  EXPECT_EQ(result.resource->supplemental(0).name(), "experiment");
  EXPECT_EQ(result.resource->fingerprint(), "fp-7");
  EXPECT_TRUE(result.onMainLoop);
  ASSERT_EQ(server_.requestCount(), 1u);
  EXPECT_EQ(server_.requests()[0].method, "GET");
  EXPECT_EQ(server_.requests()[0].target, "/r?id=GTM-1&v=i107577340&pv=fp-6");
  EXPECT_TRUE(log_->contains("Load resource from network finished"));
  EXPECT_FALSE(log_->contains("No change for container"));
}

TEST_F(ResourceLoaderTest, ClassifiesEveryKindOfAnswer) {
  const struct {
    const char* name;
    std::optional<LocalHttpServer::Response> response;  // none: nothing listens
    std::string summary;
    std::string logged;
  } cases[] = {
      // An empty body is a message without a resource: no change, still a success.
      {"empty 200", LocalHttpServer::Response::text(200, ""), "start success",
       "No change for container: GTM-1"},
      {"unparseable 200", LocalHttpServer::Response::text(200, "\xff\xff\xff garbage"),
       "start failure 3", "Error when parsing downloaded resources from url: "},
      {"404", LocalHttpServer::Response::text(404, "no such container"), "start failure 3",
       ". Make sure container_id:GTM-1 is correct."},
      {"500", LocalHttpServer::Response::text(500, "oops"), "start failure 2", "status code = 500"},
      {"refused", std::nullopt, "start failure 1", "could not connect"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    callback_ = std::make_shared<Recorder>();
    log_->clear();
    auto fetcher = loader();
    if (c.response) {
      server_.setResponse("/r", *c.response);
    } else {
      fetcher->setVeskServerAddress("http://127.0.0.1:" +
                                    std::to_string(LocalHttpServer::unusedPort()));
    }
    fetch(fetcher);
    EXPECT_EQ(callback_->summary(), c.summary);
    EXPECT_TRUE(log_->contains(c.logged)) << "missing log text: " << c.logged;
    EXPECT_TRUE(callback_->result().onMainLoop);
  }
}

TEST_F(ResourceLoaderTest, AServerThatNeverAnswersTimesOutAsNoNetwork) {
  LocalHttpServer::Response held = LocalHttpServer::Response::text(200, "");
  held.holdUntilReleased = true;
  server_.setResponse("/r", held);

  fetch(loader("GTM-1", /*timeoutSeconds=*/0.3));

  EXPECT_EQ(callback_->summary(), "start failure 1");
  EXPECT_TRUE(log_->contains("timed out"));
  server_.releaseHeldResponses();
}

TEST_F(ResourceLoaderTest, CancelledFetchesReportNothingMore) {
  LocalHttpServer::Response held = LocalHttpServer::Response::text(200, "");
  held.holdUntilReleased = true;
  server_.setResponse("/r", held);

  // Cancelled while the server holds the answer.
  auto fetcher = loader();
  fetcher->loadResourceAsync();
  ASSERT_TRUE(server_.waitForRequests(1));
  fetcher->cancel();
  server_.releaseHeldResponses();
  testing::driveFor(platform_.mainLoop(), std::chrono::milliseconds(200));
  EXPECT_EQ(callback_->summary(), "start");

  // Cancelled after the answer was handed to the main loop, before the loop ran it.
  callback_ = std::make_shared<Recorder>();
  auto late = loader();
  late->loadResourceAsync();
  ASSERT_TRUE(server_.waitForRequests(2));
  ASSERT_TRUE(testing::waitFor([&] { return platform_.mainLoop().pendingBlocks() > 0; }));
  late->cancel();
  testing::driveFor(platform_.mainLoop(), std::chrono::milliseconds(50));
  EXPECT_EQ(callback_->summary(), "start");

  // Cancelled before it started: nothing is sent, nothing reported.
  callback_ = std::make_shared<Recorder>();
  auto never = loader();
  never->cancel();
  never->loadResourceAsync();
  testing::driveFor(platform_.mainLoop(), std::chrono::milliseconds(50));
  EXPECT_EQ(callback_->summary(), "");
  EXPECT_EQ(server_.requestCount(), 2u);
}

TEST(ResourceLoaderOverTheBundle, SendsAPlainGetWithATimeOutThroughTheBundlesClient) {
  auto http = std::make_shared<testing::RecordingHttpClient>();
  testing::ScopedPlatform platform([&](Platform& p) { p.http = http; });
  auto callback = std::make_shared<Recorder>();
  auto fetcher = MOXResourceLoader::create("GTM-1");
  fetcher->setCallback(callback);
  fetcher->loadResourceAsync();
  platform.runUntilIdle();

  ASSERT_EQ(http->requests().size(), 1u);
  const HttpRequest request = http->requests()[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.url, fetcher->veskUrl());
  EXPECT_TRUE(request.headers.empty());
  EXPECT_TRUE(request.body.empty());
  EXPECT_EQ(request.timeoutSeconds, kMOXResourceLoaderTimeoutSeconds);
  EXPECT_EQ(callback->summary(), "start success");
}

TEST_F(ResourceLoaderTest, IsStartedOnce) {
  server_.setResponse("/r", LocalHttpServer::Response::text(200, ""));
  auto fetcher = loader();
  fetcher->loadResourceAsync();
  fetch(fetcher);
  EXPECT_EQ(callback_->summary(), "start success");
  EXPECT_EQ(server_.requestCount(), 1u);
}

}  // namespace
}  // namespace loomset
