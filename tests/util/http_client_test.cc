#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Library/Util/http/CurlHttpClient.h"
#include "platform/WaitFor.h"
#include "support/LocalHttpServer.h"

namespace loomset {
namespace {

using testing::LocalHttpServer;
using namespace std::chrono_literals;

class HttpClientTest : public ::testing::Test {
 protected:
  // Sends and waits for the completion, checking it arrives on the named loop.
  HttpResponse fetch(HttpRequest request) {
    std::promise<HttpResponse> done;
    client_->send(std::move(request), loop_, [&](HttpResponse r) {
      EXPECT_TRUE(loop_->isCurrent());
      done.set_value(std::move(r));
    });
    auto future = done.get_future();
    if (future.wait_for(30s) != std::future_status::ready) {
      ADD_FAILURE() << "no completion";
      return {};
    }
    return future.get();
  }

  static HttpRequest get(std::string url) {
    HttpRequest r;
    r.url = std::move(url);
    return r;
  }

  LocalHttpServer server_;
  std::shared_ptr<EventLoop> loop_ = std::make_shared<AsioEventLoop>("http-test");
  std::shared_ptr<CurlHttpClient> client_ = std::make_shared<CurlHttpClient>();
};

TEST_F(HttpClientTest, GetCarriesHeadersAndReturnsStatusHeadersAndBody) {
  auto ok = LocalHttpServer::Response::text(200, "hello");
  ok.headers.emplace_back("X-Answer", "42");
  server_.setResponse("/ok", ok);
  server_.setResponse("/broken", LocalHttpServer::Response::text(503, "later"));

  HttpRequest request = get(server_.url("/ok?a=1&b=%20"));
  request.headers = {{"User-Agent", "Agent/1.0"}, {"X-Empty", ""}};
  const HttpResponse response = fetch(request);
  EXPECT_FALSE(response.hasError()) << response.errorText;
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "hello");
  EXPECT_EQ(response.header("x-answer"), "42");
  EXPECT_EQ(response.header("content-type"), "text/plain");

  const auto recorded = server_.requests();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].method, "GET");
  EXPECT_EQ(recorded[0].path, "/ok");
  EXPECT_EQ(recorded[0].query, "a=1&b=%20");
  EXPECT_EQ(recorded[0].header("User-Agent"), "Agent/1.0");
  EXPECT_EQ(recorded[0].header("X-Empty"), "");
  EXPECT_TRUE(recorded[0].body.empty());

  // A server error is a response, not a transport failure.
  const HttpResponse broken = fetch(get(server_.url("/broken")));
  EXPECT_FALSE(broken.hasError());
  EXPECT_EQ(broken.status, 503);
  EXPECT_EQ(broken.body, "later");
  EXPECT_EQ(fetch(get(server_.url("/unknown"))).status, 404);
}

TEST_F(HttpClientTest, PostSendsBodyBytesAndReusesTheConnection) {
  server_.setResponse("/collect", LocalHttpServer::Response::text(200, "ok"));
  HttpRequest request = get(server_.url("/collect"));
  request.method = "POST";
  request.body = std::string("v=1&t=\0binary", 13);
  request.headers = {{"Content-Type", "application/octet-stream"}};
  EXPECT_EQ(fetch(request).status, 200);
  request.body.clear();
  EXPECT_EQ(fetch(request).status, 200);

  const auto recorded = server_.requests();
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0].method, "POST");
  EXPECT_EQ(recorded[0].body, std::string("v=1&t=\0binary", 13));
  EXPECT_EQ(recorded[0].header("Content-Type"), "application/octet-stream");
  EXPECT_EQ(recorded[1].method, "POST");
  EXPECT_EQ(recorded[1].header("Content-Length"), "0");
  EXPECT_EQ(server_.acceptedConnections(), 1u);
}

TEST_F(HttpClientTest, BodiesPastTheKeptSizeAreReadAndDropped) {
  std::string large(1 << 20, 'x');
  for (std::size_t i = 0; i < large.size(); i += 997) large[i] = static_cast<char>('a' + i % 26);
  server_.setResponse("/large", LocalHttpServer::Response::text(200, large));
  auto chunked = LocalHttpServer::Response::text(200, large);
  chunked.chunked = true;
  server_.setResponse("/chunked", chunked);

  for (const char* path : {"/large", "/chunked"}) {
    HttpRequest request = get(server_.url(path));
    request.bodyBytesKept = kHttpIgnoredBodyBytesKept;
    const HttpResponse capped = fetch(request);
    EXPECT_FALSE(capped.hasError()) << path << ": " << capped.errorText;
    EXPECT_EQ(capped.status, 200) << path;
    EXPECT_EQ(capped.body, large.substr(0, kHttpIgnoredBodyBytesKept)) << path;
    request.bodyBytesKept = 0;
    EXPECT_EQ(fetch(request).body, "") << path;
  }
  // The connection was read to its end: the next request reuses it.
  EXPECT_EQ(fetch(get(server_.url("/large"))).body, large);
  EXPECT_EQ(server_.acceptedConnections(), 1u);
}

TEST_F(HttpClientTest, RedirectsAreFollowedUnlessTurnedOff) {
  server_.setResponse("/old", LocalHttpServer::Response::redirect(302, "/new"));
  auto final = LocalHttpServer::Response::text(200, "moved here");
  final.chunked = true;
  server_.setResponse("/new", final);

  const HttpResponse followed = fetch(get(server_.url("/old")));
  EXPECT_EQ(followed.status, 200);
  EXPECT_EQ(followed.body, "moved here");
  EXPECT_EQ(followed.url, server_.url("/new"));
  EXPECT_FALSE(followed.header("Location"));  // headers of the final response only

  HttpRequest request = get(server_.url("/old"));
  request.followRedirects = false;
  const HttpResponse notFollowed = fetch(request);
  EXPECT_EQ(notFollowed.status, 302);
  EXPECT_EQ(notFollowed.header("Location"), "/new");

  server_.setResponse("/loop", LocalHttpServer::Response::redirect(302, "/loop"));
  EXPECT_EQ(fetch(get(server_.url("/loop"))).errorCode, HttpErrorCode::kTooManyRedirects);
}

TEST_F(HttpClientTest, TransportFailuresAreReportedWithoutStatus) {
  const HttpResponse refused =
      fetch(get("http://127.0.0.1:" + std::to_string(LocalHttpServer::unusedPort()) + "/x"));
  EXPECT_EQ(refused.errorCode, HttpErrorCode::kCouldNotConnect);
  EXPECT_EQ(refused.status, 0);
  EXPECT_FALSE(refused.errorText.empty());

  EXPECT_EQ(fetch(get("not a url")).errorCode, HttpErrorCode::kInvalidRequest);
  EXPECT_EQ(fetch(get("file:///etc/passwd")).errorCode, HttpErrorCode::kInvalidRequest);

  auto slow = LocalHttpServer::Response::text(200, "too late");
  slow.holdUntilReleased = true;
  server_.setResponse("/slow", slow);
  HttpRequest request = get(server_.url("/slow"));
  request.timeoutSeconds = 0.2;
  EXPECT_EQ(fetch(request).errorCode, HttpErrorCode::kTimedOut);
  server_.releaseHeldResponses();
}

TEST_F(HttpClientTest, CancelledRequestsCompleteOnceWithCancelled) {
  auto slow = LocalHttpServer::Response::text(200, "slow");
  slow.holdUntilReleased = true;
  server_.setResponse("/slow", slow);

  std::atomic<int> calls{0};
  std::promise<HttpResponse> done;
  auto call = client_->send(get(server_.url("/slow")), loop_, [&](HttpResponse r) {
    if (++calls == 1) done.set_value(std::move(r));
  });
  ASSERT_TRUE(server_.waitForRequests(1));
  call->cancel();
  call->cancel();
  auto future = done.get_future();
  ASSERT_EQ(future.wait_for(30s), std::future_status::ready);
  EXPECT_EQ(future.get().errorCode, HttpErrorCode::kCancelled);

  // Once the server answers, nothing more arrives: a later request on the same loop completes
  // after anything the cancelled one could still have posted.
  server_.releaseHeldResponses();
  server_.setResponse("/after", LocalHttpServer::Response::text(200, "after"));
  EXPECT_EQ(fetch(get(server_.url("/after"))).status, 200);
  call->cancel();
  loop_->postAndWait([] {});
  EXPECT_EQ(calls.load(), 1);
}

TEST_F(HttpClientTest, DestroyingTheClientEndsRequestsInFlight) {
  auto slow = LocalHttpServer::Response::text(200, "slow");
  slow.holdUntilReleased = true;
  server_.setResponse("/slow", slow);
  std::promise<HttpResponse> done;
  client_->send(get(server_.url("/slow")), loop_,
                [&](HttpResponse r) { done.set_value(std::move(r)); });
  ASSERT_TRUE(server_.waitForRequests(1));
  client_.reset();
  auto future = done.get_future();
  ASSERT_EQ(future.wait_for(30s), std::future_status::ready);
  EXPECT_EQ(future.get().errorCode, HttpErrorCode::kShutDown);
}

// Sends and cancels from several threads race with the transfer thread's answers; every request
// completes exactly once, and only a cancelled one may end without its answer.
TEST_F(HttpClientTest, RequestsAndCancelsFromManyThreadsEachCompleteOnce) {
  server_.setResponse("/r", LocalHttpServer::Response::text(200, "ok"));
  constexpr int kThreads = 4;
  constexpr int kPerThread = 25;
  struct Outcome {
    std::atomic<int> calls{0};
    std::atomic<int> status{0};
    std::atomic<bool> cancelled{false};
  };
  std::vector<Outcome> outcomes(kThreads * kPerThread);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        Outcome& outcome = outcomes[t * kPerThread + i];
        auto call = client_->send(get(server_.url("/r")), loop_, [&outcome](HttpResponse r) {
          outcome.status = r.errorCode == HttpErrorCode::kCancelled ? -1 : r.status;
          ++outcome.calls;
        });
        if (i % 2 == 0) {
          outcome.cancelled = true;
          call->cancel();
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(testing::waitFor([&] {
    for (const auto& outcome : outcomes) {
      if (outcome.calls.load() == 0) return false;
    }
    return true;
  }));
  loop_->postAndWait([] {});  // anything posted twice would have arrived by now

  for (std::size_t n = 0; n < outcomes.size(); ++n) {
    EXPECT_EQ(outcomes[n].calls.load(), 1) << "request " << n;
    if (!outcomes[n].cancelled) EXPECT_EQ(outcomes[n].status.load(), 200) << "request " << n;
  }
}

// Chunked and pipelined requests, as clients other than ours may send them.
TEST(LocalHttpServer, ParsesChunkedBodiesAndKeepsConnectionsAlive) {
  LocalHttpServer server;
  server.setResponse("/batch", LocalHttpServer::Response::text(200, "ok"));
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(server.port()));
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string requests =
      "POST /batch HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
      "5\r\nhello\r\n6;ext=1\r\n world\r\n0\r\nTrailer: t\r\n\r\n"
      "POST /batch?x=1 HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc";
  ASSERT_EQ(::send(fd, requests.data(), requests.size(), 0), static_cast<ssize_t>(requests.size()));
  std::string received;
  char buffer[4096];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) received.append(buffer, n);
  ::close(fd);

  const auto recorded = server.requests();
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_TRUE(recorded[0].chunked);
  EXPECT_EQ(recorded[0].body, "hello world");
  EXPECT_EQ(recorded[1].body, "abc");
  EXPECT_EQ(recorded[1].query, "x=1");
  EXPECT_EQ(recorded[0].connection, recorded[1].connection);
  EXPECT_EQ(received.find("HTTP/1.1 200 OK"), 0u);
  EXPECT_NE(received.find("Connection: close"), std::string::npos);
}

}  // namespace
}  // namespace loomset
