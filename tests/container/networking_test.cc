#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "Library/Util/MOXDispatchUtil.h"
#include "container/MOXNetworking.h"
#include "support/LocalHttpServer.h"
#include "support/RecordingHttpClient.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

using testing::LocalHttpServer;

struct FakeWatcher : MOXReachabilityWatcher {
  FlagsCallback* sink;
  explicit FakeWatcher(FlagsCallback* s) : sink(s) {}
  bool start(FlagsCallback cb) override {
    *sink = std::move(cb);
    return true;
  }
  void stop() override {}
};

// Collects completions, which arrive on the worker thread.
class Completions {
 public:
  MOXNetOperation::Completion recorder() {
    return [this](const std::shared_ptr<MOXNetOperation>& op) {
      std::lock_guard<std::mutex> lock(mu_);
      onWorker_ = onWorker_ && MOXDispatchUtil::thread().isCurrent();
      done_.push_back(op);
      cv_.notify_all();
    };
  }
  bool waitFor(std::size_t n) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(30), [&] { return done_.size() >= n; });
  }
  std::vector<std::shared_ptr<MOXNetOperation>> done() {
    std::lock_guard<std::mutex> lock(mu_);
    return done_;
  }
  bool allOnWorker() {
    std::lock_guard<std::mutex> lock(mu_);
    return onWorker_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::shared_ptr<MOXNetOperation>> done_;
  bool onWorker_ = true;
};

class MOXNetworkingTest : public ::testing::Test {
 protected:
  MOXNetworkingTest() {
    MOXNetworking::Options options;
    options.reachabilityHost = "reachability.test";
    options.watcherFactory = [this](const std::string&, std::shared_ptr<EventLoop>) {
      return std::make_unique<FakeWatcher>(&flags_);
    };
    networking_ = MOXNetworking::create(options);
  }

  testing::ScopedPlatform platform_;
  LocalHttpServer server_;
  MOXReachabilityWatcher::FlagsCallback flags_;
  std::shared_ptr<MOXNetworking> networking_;
  Completions completions_;
};

TEST_F(MOXNetworkingTest, SendsGetWithUserAgentAndReportsResponses) {
  auto ok = LocalHttpServer::Response::text(200, "pixel");
  ok.headers.emplace_back("X-Served", "yes");
  server_.setResponse("/img", ok);
  server_.setResponse("/moved", LocalHttpServer::Response::redirect(301, "/img"));

  networking_->sendURL(server_.url("/img?id=1"), completions_.recorder());
  networking_->sendURL(server_.url("/missing"), completions_.recorder());
  networking_->sendURL(server_.url("/moved"), completions_.recorder());
  ASSERT_TRUE(completions_.waitFor(3));
  const auto done = completions_.done();
  EXPECT_TRUE(completions_.allOnWorker());

  EXPECT_FALSE(done[0]->error());
  ASSERT_TRUE(done[0]->response());
  EXPECT_EQ(done[0]->response()->status, 200);
  EXPECT_EQ(done[0]->response()->header("X-Served"), "yes");
  EXPECT_EQ(done[0]->data(), "pixel");
  EXPECT_TRUE(done[0]->isFinished());
  EXPECT_FALSE(done[0]->isExecuting());

  EXPECT_FALSE(done[1]->error());
  EXPECT_EQ(done[1]->response()->status, 404);

  EXPECT_EQ(done[2]->response()->status, 200);
  EXPECT_EQ(done[2]->response()->url, server_.url("/img"));
  EXPECT_EQ(done[2]->data(), "pixel");

  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 4u);  // the redirect took two
  for (const auto& r : requests) {
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.header("User-Agent"), MOXDispatchUtil::userAgentString());
    EXPECT_EQ(r.header("Cache-Control"), "no-cache");
  }
  EXPECT_EQ(requests[0].target, "/img?id=1");
  EXPECT_EQ(networking_->operationCount(), 0u);
}

TEST_F(MOXNetworkingTest, ConnectionRefusedIsAnErrorWithoutResponse) {
  networking_->sendURL("http://127.0.0.1:" + std::to_string(LocalHttpServer::unusedPort()) + "/",
                       completions_.recorder());
  ASSERT_TRUE(completions_.waitFor(1));
  const auto op = completions_.done()[0];
  ASSERT_TRUE(op->error());
  EXPECT_EQ(op->error()->code, HttpErrorCode::kCouldNotConnect);
  EXPECT_FALSE(op->response());
  EXPECT_FALSE(op->data());
}

TEST_F(MOXNetworkingTest, RunsOneAtATimeAndCancelsASlowResponse) {
  auto slow = LocalHttpServer::Response::text(200, "slow");
  slow.holdUntilReleased = true;
  server_.setResponse("/slow", slow);
  server_.setResponse("/fast", LocalHttpServer::Response::text(200, "fast"));

  auto first = networking_->sendURL(server_.url("/slow"), completions_.recorder());
  auto second = networking_->sendURL(server_.url("/fast"), completions_.recorder());
  ASSERT_TRUE(server_.waitForRequests(1));
  EXPECT_EQ(networking_->operationCount(), 2u);
  EXPECT_FALSE(second->isExecuting());
  EXPECT_FALSE(second->isFinished());

  first->cancel();
  ASSERT_TRUE(completions_.waitFor(2));
  auto done = completions_.done();
  EXPECT_EQ(done[0], first);
  EXPECT_TRUE(first->isCancelled());
  EXPECT_TRUE(first->isFinished());
  EXPECT_FALSE(first->response());
  EXPECT_FALSE(first->data());
  EXPECT_EQ(done[1], second);
  EXPECT_EQ(second->data(), "fast");

  // Cancelling again, or after finishing, never calls a completion a second time.
  first->cancel();
  second->cancel();
  server_.releaseHeldResponses();
  MOXDispatchUtil::background([] {}, true);
  networking_->sendURL(server_.url("/fast"), completions_.recorder());
  ASSERT_TRUE(completions_.waitFor(3));
  MOXDispatchUtil::background([] {}, true);
  EXPECT_EQ(completions_.done().size(), 3u);
  EXPECT_EQ(server_.requestCount(), 3u);
}

TEST_F(MOXNetworkingTest, CancelledBeforeStartingSendsNothing) {
  auto slow = LocalHttpServer::Response::text(200, "slow");
  slow.holdUntilReleased = true;
  server_.setResponse("/slow", slow);
  auto first = networking_->sendURL(server_.url("/slow"), completions_.recorder());
  auto queued = networking_->sendURL(server_.url("/never"), completions_.recorder());
  ASSERT_TRUE(server_.waitForRequests(1));
  queued->cancel();
  ASSERT_TRUE(completions_.waitFor(1));
  EXPECT_EQ(completions_.done()[0], queued);
  server_.releaseHeldResponses();
  ASSERT_TRUE(completions_.waitFor(2));
  MOXDispatchUtil::background([] {}, true);
  EXPECT_TRUE(queued->isFinished());
  EXPECT_EQ(networking_->operationCount(), 0u);
  for (const auto& r : server_.requests()) EXPECT_NE(r.path, "/never");
}

TEST_F(MOXNetworkingTest, ReachabilityStatusDrivesIsReachable) {
  EXPECT_TRUE(networking_->isReachable());
  ASSERT_TRUE(flags_);
  flags_(0);
  EXPECT_FALSE(networking_->isReachable());
  flags_(kMOXReachabilityFlagReachable | kMOXReachabilityFlagIsWWAN);
  EXPECT_TRUE(networking_->isReachable());
  flags_(kMOXReachabilityFlagConnectionRequired);
  EXPECT_FALSE(networking_->isReachable());
  flags_(kMOXReachabilityFlagReachable);
  EXPECT_TRUE(networking_->isReachable());
  EXPECT_EQ(networking_->reachability()->host(), "reachability.test");
}

// Without a client of its own, the queue sends through the platform bundle's, and watches with
// the bundle's watchers: an application's own transport carries the container half's requests.
TEST(MOXNetworkingOverTheBundle, SendsThroughTheHttpClientOfThePlatformBundle) {
  auto http = std::make_shared<testing::RecordingHttpClient>();
  std::vector<std::string> watched;
  MOXReachabilityWatcher::FlagsCallback flags;
  testing::ScopedPlatform platform([&](Platform& p) {
    p.http = http;
    p.reachability = [&](const std::string& host, std::shared_ptr<EventLoop>) {
      watched.push_back(host);
      return std::make_unique<FakeWatcher>(&flags);
    };
  });
  auto networking = MOXNetworking::create();
  EXPECT_EQ(watched, std::vector<std::string>{kMOXNetworkingDefaultReachabilityHost});
  Completions completions;
  networking->sendURL("https://pixel.example.test/img?x=1", completions.recorder());
  ASSERT_TRUE(completions.waitFor(1));
  const auto requests = http->requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].url, "https://pixel.example.test/img?x=1");
  EXPECT_EQ(requests[0].headers.front().first, "User-Agent");
  ASSERT_TRUE(completions.done()[0]->response());
  EXPECT_EQ(completions.done()[0]->response()->status, 200);
}

}  // namespace
}  // namespace loomset
