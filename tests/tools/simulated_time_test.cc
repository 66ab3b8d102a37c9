// What `loomset run` on simulated time rests on: HTTP answers that enter the library in the order
// the requests were sent, whenever they arrive, and timers on several loops that fire in time
// order, each seeing the time it was due.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Library/Util/platform/ManualEventLoop.h"
#include "loomset/platform/Platform.h"
#include "tools/loomset/CountingHttpClient.h"
#include "tools/loomset/SimulatedTime.h"

namespace loomset::testing {
namespace {

using tools::CountingHttpClient;
using tools::SimulatedTime;

// Keeps the requests it is sent; the test answers them, from another thread, in any order.
class ScriptedClient final : public HttpClient {
 public:
  struct Sent {
    HttpRequest request;
    std::shared_ptr<EventLoop> loop;
    Completion completion;
  };
  class Call final : public HttpCall {
   public:
    void cancel() override {}
  };

  std::shared_ptr<HttpCall> send(HttpRequest request, std::shared_ptr<EventLoop> loop,
                                 Completion completion) override {
    std::lock_guard<std::mutex> lock(mu_);
    sent_.push_back({std::move(request), std::move(loop), std::move(completion)});
    return std::make_shared<Call>();
  }

  // Answers request `index` with `status`, as a client does: posts the completion to its loop.
  void answer(std::size_t index, int status) {
    Sent sent;
    {
      std::lock_guard<std::mutex> lock(mu_);
      sent = sent_.at(index);
    }
    HttpResponse response;
    response.status = status;
    response.url = sent.request.url;
    sent.loop->post([completion = sent.completion, response] { completion(response); });
  }

 private:
  std::mutex mu_;
  std::vector<Sent> sent_;
};

TEST(CountingHttpClient, HeldAnswersEnterInSendOrderOnceAllHaveArrived) {
  auto clock = std::make_shared<ManualClock>();
  auto loop = std::make_shared<ManualEventLoop>(clock);
  auto scripted = std::make_shared<ScriptedClient>();
  CountingHttpClient client(scripted, CountingHttpClient::Delivery::kHeld);
  std::vector<std::string> heard;
  for (const char* url : {"a", "b", "c"}) {
    HttpRequest request;
    request.url = url;
    client.send(request, loop,
                [&heard](HttpResponse r) { heard.push_back(r.url + std::to_string(r.status)); });
  }
  EXPECT_EQ(client.inFlight(), 3u);

  // The answers come back out of order, the last one late, from another thread.
  scripted->answer(2, 404);
  scripted->answer(0, 200);
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    scripted->answer(1, 500);
  });
  EXPECT_EQ(loop->runUntilIdle(), 0u) << "an answer reached the loop before it was released";
  EXPECT_EQ(client.releaseWhenAllAnswered(), 3u);
  late.join();
  EXPECT_EQ(client.inFlight(), 0u);
  loop->runUntilIdle();
  EXPECT_EQ(heard, (std::vector<std::string>{"a200", "b500", "c404"}));
  EXPECT_EQ(client.releaseWhenAllAnswered(), 0u);
}

TEST(CountingHttpClient, DirectAnswersCountUntilTheirCompletionHasRun) {
  auto clock = std::make_shared<ManualClock>();
  auto loop = std::make_shared<ManualEventLoop>(clock);
  auto scripted = std::make_shared<ScriptedClient>();
  CountingHttpClient client(scripted, CountingHttpClient::Delivery::kDirect);
  int ran = 0;
  client.send(HttpRequest{}, loop, [&ran](HttpResponse) { ++ran; });
  // A completion that throws is still counted down.
  client.send(HttpRequest{}, loop, [](HttpResponse) { throw std::runtime_error("handler"); });
  scripted->answer(0, 200);
  scripted->answer(1, 200);
  EXPECT_EQ(client.inFlight(), 2u) << "posted is not yet run";
  EXPECT_FALSE(client.waitUntilNoneInFlight(std::chrono::steady_clock::now() +
                                            std::chrono::milliseconds(10)));
  loop->runUntilIdle();
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(client.inFlight(), 0u);
  EXPECT_TRUE(client.waitUntilNoneInFlight(std::chrono::steady_clock::now()));
}

class SimulatedTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    time_.install(platform_);
    start_ = platform_.clock->nowMillis();
  }
  double elapsed() const { return platform_.clock->nowMillis() - start_; }

  SimulatedTime time_{1700000000000.0};
  Platform platform_;
  double start_ = 0;
};

TEST_F(SimulatedTimeTest, TimersOnEveryLoopFireInTimeOrderAtTheirDueTime) {
  EXPECT_EQ(platform_.clock->nowMillis(), 1700000000000.0);
  const auto worker = platform_.containerWorker;
  EXPECT_EQ(worker->name(), "MOXThread");
  std::vector<std::string> fired;
  const auto note = [&](const std::string& what) {
    fired.push_back(what + "@" + std::to_string(static_cast<long long>(elapsed())));
  };
  platform_.mainLoop->postAfter(0.3, [&] { note("main"); });
  worker->postAfter(0.1, [&] {
    note("worker");
    // Work a timer starts elsewhere runs before the next timer, at the same time.
    platform_.background->execute([&] {
      note("background");
      platform_.mainLoop->post([&] { note("result"); });
    });
  });
  worker->postAfter(2.0, [&] { note("late"); });

  time_.advance(999);
  EXPECT_EQ(fired,
            (std::vector<std::string>{"worker@100", "background@100", "result@100", "main@300"}));
  EXPECT_EQ(elapsed(), 999);
  time_.advance(1001);
  EXPECT_EQ(fired.back(), "late@2000");
}

TEST_F(SimulatedTimeTest, SettlingRunsEverythingReadyButNoTimerThatIsNotDue) {
  int ran = 0;
  platform_.background->execute([&] { platform_.mainLoop->post([&] { ++ran; }); });
  platform_.mainLoop->postAfter(0.001, [&] { ran += 100; });
  time_.settle();
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(elapsed(), 0);
}

}  // namespace
}  // namespace loomset::testing
