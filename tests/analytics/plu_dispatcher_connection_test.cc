// One request of the analytics half: completes exactly once on its completion loop, with the
// collector's answer, the transport's error, nothing after a cancel, or a made-up 200 in dry run.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "Library/Util/http/CurlHttpClient.h"
#include "analytics/dispatch/PLUURLConnection.h"
#include "platform/WaitFor.h"
#include "support/LocalHttpServer.h"

namespace loomset {
namespace {

using testing::LocalHttpServer;

struct Recorder {
  std::mutex mu;
  std::optional<PLUURLConnectionResult> result;
  std::atomic<int> calls{0};

  PLUURLConnection::Completion completion() {
    return [this](const PLUURLConnectionResult& r) {
      std::lock_guard<std::mutex> lock(mu);
      result = r;
      calls++;
    };
  }
};

class PLUURLConnectionTest : public ::testing::Test {
 protected:
  void TearDown() override { PLUURLConnection::setDryRun(false); }
  HttpRequest get(const std::string& path) {
    HttpRequest request;
    request.url = server_.url(path);
    return request;
  }
  LocalHttpServer server_;
  std::shared_ptr<EventLoop> loop_ = std::make_shared<AsioEventLoop>("connection-test");
  std::shared_ptr<HttpClient> client_ = std::make_shared<CurlHttpClient>();
};

TEST_F(PLUURLConnectionTest, AnswersErrorsAndCancelsEachCompleteOnce) {
  server_.setResponse("/collect", LocalHttpServer::Response::text(500, "busy"));
  Recorder answered;
  auto connection =
      PLUURLConnection::create(get("/collect"), loop_, answered.completion(), client_);
  connection->start();
  connection->start();  // a second start sends nothing more
  ASSERT_TRUE(testing::waitFor([&] { return answered.calls.load() == 1; }));
  {
    std::lock_guard<std::mutex> lock(answered.mu);
    ASSERT_TRUE(answered.result->response);
    EXPECT_EQ(answered.result->response->status, 500);
    EXPECT_EQ(answered.result->response->body, "busy");
    EXPECT_FALSE(answered.result->error);
  }
  connection->cancel();  // after the answer: nothing happens
  EXPECT_EQ(server_.requestCount(), 1u);

  Recorder refused;
  HttpRequest nowhere;
  nowhere.url = "http://127.0.0.1:" + std::to_string(LocalHttpServer::unusedPort()) + "/collect";
  auto refusedConnection = PLUURLConnection::create(nowhere, loop_, refused.completion(), client_);
  refusedConnection->start();
  ASSERT_TRUE(testing::waitFor([&] { return refused.calls.load() == 1; }));
  {
    std::lock_guard<std::mutex> lock(refused.mu);
    EXPECT_FALSE(refused.result->response);
    EXPECT_TRUE(refused.result->error);
  }

  LocalHttpServer::Response held = LocalHttpServer::Response::text(200, "");
  held.holdUntilReleased = true;
  server_.setResponse("/slow", held);
  Recorder cancelled;
  auto slow = PLUURLConnection::create(get("/slow"), loop_, cancelled.completion(), client_);
  slow->start();
  ASSERT_TRUE(server_.waitForRequests(2));
  slow->cancel();
  slow->cancel();
  server_.releaseHeldResponses();
  ASSERT_TRUE(testing::waitFor([&] { return cancelled.calls.load() == 1; }));
  loop_->postAndWait([] {});
  std::lock_guard<std::mutex> lock(cancelled.mu);
  EXPECT_EQ(cancelled.calls.load(), 1);
  EXPECT_FALSE(cancelled.result->response);
  EXPECT_FALSE(cancelled.result->error);
}

TEST_F(PLUURLConnectionTest, DryRunAnswers200WithoutTraffic) {
  PLUURLConnection::setDryRun(true);
  Recorder recorder;
  auto connection =
      PLUURLConnection::create(get("/collect"), loop_, recorder.completion(), client_);
  connection->start();
  ASSERT_TRUE(testing::waitFor([&] { return recorder.calls.load() == 1; }));
  std::lock_guard<std::mutex> lock(recorder.mu);
  ASSERT_TRUE(recorder.result->response);
  EXPECT_EQ(recorder.result->response->status, 200);
  EXPECT_TRUE(recorder.result->response->body.empty());
  EXPECT_EQ(server_.acceptedConnections(), 0u);
}

}  // namespace
}  // namespace loomset
