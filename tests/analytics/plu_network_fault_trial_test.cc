// Network fault trial of the dispatcher against a collector on 127.0.0.1 that fails 30 % of the
// requests at random: connections reset before or in the middle of the answer, bodies cut short,
// answers slower than the time-out, and server errors. Every hit must reach the collector at
// least once, and a hit may reach it again only after a request carrying it lost its answer.
// The suite sends a few hundred hits; LOOMSET_NETWORK_TRIAL_HITS=10000 runs the full trial.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "loomset/platform/HttpClient.h"
#include "loomset/platform/Platform.h"
#include "support/PLUCollector.h"

namespace loomset {
namespace {

using testing::LocalHttpServer;
using testing::PLUCollector;
using testing::PLUDispatcherHarness;

// The dispatcher's client with a short time-out, so that slow answers time out within the test.
class ShortTimeoutClient final : public HttpClient {
 public:
  ShortTimeoutClient(std::shared_ptr<HttpClient> inner, double timeoutSeconds)
      : inner_(std::move(inner)), timeoutSeconds_(timeoutSeconds) {}
  std::shared_ptr<HttpCall> send(HttpRequest request, std::shared_ptr<EventLoop> loop,
                                 Completion completion) override {
    request.timeoutSeconds = timeoutSeconds_;
    return inner_->send(std::move(request), std::move(loop), std::move(completion));
  }

 private:
  std::shared_ptr<HttpClient> inner_;
  double timeoutSeconds_;
};

enum class Fate { kAnswered, kServerError, kResetBeforeAnswer, kResetMidAnswer, kTruncated, kSlow };

bool answerLost(Fate fate) {
  return fate != Fate::kAnswered && fate != Fate::kServerError;
}

constexpr double kTimeoutSeconds = 0.2;

// Decides the fate of every request at random (30 % fail) and remembers, per request, the labels
// of the hits it carried.
class FaultyCollector {
 public:
  explicit FaultyCollector(unsigned seed) : random_(seed) {}

  LocalHttpServer::Response answer(const LocalHttpServer::Request& request) {
    std::vector<std::string> labels;
    std::vector<std::string> texts;
    if (request.method == "GET") {
      texts.push_back(request.query);
    } else {
      const auto encoding = request.header("Content-Encoding");
      const auto body = encoding ? PLUCollector::inflate(request.body) : request.body;
      std::string_view rest = body ? std::string_view(*body) : std::string_view();
      while (!rest.empty()) {
        const auto end = rest.find('\n');
        texts.emplace_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      }
    }
    for (const auto& text : texts) labels.push_back(PLUCollector::decodeHit(text)["el"]);

    std::lock_guard<std::mutex> lock(mu_);
    const int roll = std::uniform_int_distribution<int>(0, 99)(random_);
    Fate fate = Fate::kAnswered;
    if (roll < 8) {
      fate = Fate::kResetBeforeAnswer;
    } else if (roll < 14) {
      fate = Fate::kResetMidAnswer;
    } else if (roll < 20) {
      fate = Fate::kTruncated;
    } else if (roll < 24) {
      fate = Fate::kSlow;
    } else if (roll < 30) {
      fate = Fate::kServerError;
    }
    received_.push_back({fate, std::move(labels)});

    auto response = LocalHttpServer::Response::text(200, std::string(2000, 'k'));
    switch (fate) {
      case Fate::kAnswered:
        break;
      case Fate::kServerError:
        response = LocalHttpServer::Response::text(roll % 2 ? 500 : 503, "busy");
        break;
      case Fate::kResetBeforeAnswer:
        response.cutAfterBytes = 0;
        response.resetWhenCut = true;
        break;
      case Fate::kResetMidAnswer:
        response.cutAfterBytes = 20;  // within the headers
        response.resetWhenCut = true;
        break;
      case Fate::kTruncated:
        response.cutAfterBytes = 600;  // the headers and part of the promised body
        break;
      case Fate::kSlow:
        response.delaySeconds = kTimeoutSeconds * 3;
        break;
    }
    return response;
  }

  struct Received {
    Fate fate;
    std::vector<std::string> labels;
  };
  std::vector<Received> received() const {
    std::lock_guard<std::mutex> lock(mu_);
    return received_;
  }

 private:
  mutable std::mutex mu_;
  std::mt19937 random_;
  std::vector<Received> received_;
};

int hitCount() {
  const char* text = std::getenv("LOOMSET_NETWORK_TRIAL_HITS");
  return text ? std::max(1, std::atoi(text)) : 400;
}

TEST(PLUNetworkFaultTrial, EveryHitArrivesAndOnlyHitsWhoseAnswerWasLostRepeat) {
  PLUDispatcherHarness h([](PLUBatchingDispatcher::Options& options) {
    auto platform = std::make_shared<Platform>(*options.context.platform);
    platform->http = std::make_shared<ShortTimeoutClient>(platform->http, kTimeoutSeconds);
    options.context.platform = platform;
  });
  const unsigned seed = std::random_device{}();
  FaultyCollector faults(seed);
  for (const char* path : {"/collect", "/batch"}) {
    h.collector().server().setHandler(
        path, [&faults](const LocalHttpServer::Request& r) { return faults.answer(r); });
  }

  const int hits = hitCount();
  constexpr int kChunk = 200;  // well under the store's limit of 2000
  int dispatches = 0;
  for (int first = 0; first < hits; first += kChunk) {
    for (int i = first; i < std::min(hits, first + kChunk); ++i) {
      h.queue(PLUDispatcherHarness::eventHit("hit" + std::to_string(i),
                                             "UA-NET-" + std::to_string(i % 7)));
    }
    while (h.storedHits() > 0) {
      h.dispatchAndWait();
      ASSERT_LT(++dispatches, hits * 10) << "seed " << seed << ": the hits never drained";
    }
  }

  // Per hit, the fates of the requests that carried it, in order.
  std::map<std::string, std::vector<Fate>> carried;
  std::map<Fate, int> requestsByFate;
  const auto received = faults.received();
  for (const auto& request : received) {
    ++requestsByFate[request.fate];
    for (const auto& label : request.labels) carried[label].push_back(request.fate);
  }
  int duplicates = 0;
  for (int i = 0; i < hits; ++i) {
    const auto it = carried.find("hit" + std::to_string(i));
    ASSERT_NE(it, carried.end()) << "seed " << seed << ": hit " << i << " never arrived";
    const auto& fates = it->second;
    duplicates += static_cast<int>(fates.size()) - 1;
    for (std::size_t k = 0; k + 1 < fates.size(); ++k) {
      ASSERT_TRUE(answerLost(fates[k]))
          << "seed " << seed << ": hit " << i << " was sent again after its request was answered";
    }
    ASSERT_FALSE(answerLost(fates.back()))
        << "seed " << seed << ": hit " << i << " deleted though its last answer was lost";
  }
  EXPECT_EQ(carried.size(), static_cast<std::size_t>(hits)) << "hits nobody sent arrived";
  std::cout << "[ network trial ] seed " << seed << ": " << hits << " hits, " << received.size()
            << " requests (answered " << requestsByFate[Fate::kAnswered] << ", server error "
            << requestsByFate[Fate::kServerError] << ", reset before answer "
            << requestsByFate[Fate::kResetBeforeAnswer] << ", reset mid-answer "
            << requestsByFate[Fate::kResetMidAnswer] << ", truncated "
            << requestsByFate[Fate::kTruncated] << ", slow " << requestsByFate[Fate::kSlow]
            << "), every hit delivered, " << duplicates << " duplicate deliveries\n";
}

}  // namespace
}  // namespace loomset
