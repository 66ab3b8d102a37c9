// Many threads sending through several trackers while trackers come and go: nothing is lost at
// the dispatcher hand-off (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "analytics/dispatch/PLUBatchingDispatcher.h"
#include "loomset/PLU.h"
#include "loomset/PLUDictionaryBuilder.h"
#include "support/PLUCollector.h"
#include "support/PLURecording.h"

namespace loomset {
namespace {

TEST(PLUConcurrency, NoHitLostWhileTrackersComeAndGo) {
  testing::PLUTestFacade env;
  PLU& plu = env.facade();
  constexpr int kSenders = 6;
  constexpr int kHitsPerSender = 300;
  constexpr int kChurnRounds = 200;

  std::atomic<int> expected{0};
  std::vector<std::thread> threads;
  for (int s = 0; s < kSenders; ++s) {
    threads.emplace_back([&plu, &expected, s] {
      auto tracker =
          plu.trackerWithName("shared-" + std::to_string(s % 3), "UA-" + std::to_string(s % 3));
      for (int i = 0; i < kHitsPerSender; ++i) {
        // Transactions are never throttled, so every one must arrive.
        tracker->send(PLUDictionaryBuilder::createTransactionWithId(
                          "T" + std::to_string(s) + "-" + std::to_string(i), "a", 1, 0, 0, "EUR")
                          .build());
        expected.fetch_add(1);
        if (i % 50 == 0) tracker->set("&cd", "screen-" + std::to_string(i));
      }
    });
  }
  threads.emplace_back([&plu, &expected] {
    for (int r = 0; r < kChurnRounds; ++r) {
      const std::string name = "temp-" + std::to_string(r % 4);
      if (auto tracker = plu.trackerWithName(name, "UA-TEMP")) {
        tracker->send({{"&t", "item"}, {"&ti", "x"}});
        expected.fetch_add(1);
      }
      plu.removeTrackerByName(name);
      if (r % 10 == 0) plu.setDefaultTracker(plu.trackerWithName("shared-0", "UA-0"));
    }
  });
  threads.emplace_back([&plu] {
    for (int r = 0; r < kChurnRounds; ++r) {
      if (auto tracker = plu.defaultTracker()) tracker->get("&cid");
      plu.setDispatchInterval(r);
    }
  });
  for (auto& t : threads) t.join();

  const auto hits = env.dispatcher().hits();
  EXPECT_EQ(hits.size(), static_cast<std::size_t>(expected.load()));
  std::set<std::string> transactions;
  for (const auto& hit : hits) {
    if (hit.at("&t") == "transaction") transactions.insert(*hit.at("&ti"));
  }
  EXPECT_EQ(transactions.size(), static_cast<std::size_t>(kSenders * kHitsPerSender));
}

// Application threads queue hits and flip the dispatcher's switches while its worker loop runs
// (here on the test thread): every hit is stored, and the switches end as last set.
TEST(PLUConcurrency, DispatcherQueueingAndSwitchesFromManyThreads) {
  testing::PLUDispatcherHarness h;
  PLUBatchingDispatcher& dispatcher = h.dispatcher();
  constexpr int kSenders = 4;
  constexpr int kHitsPerSender = 40;
  std::atomic<int> sendersDone{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int s = 0; s < kSenders; ++s) {
    threads.emplace_back([&, s] {
      for (int i = 0; i < kHitsPerSender; ++i) {
        dispatcher.queueDispatch(
            testing::PLUDispatcherHarness::eventHit(std::to_string(s) + "-" + std::to_string(i)));
        if (i % 8 == 0) dispatcher.setDispatchInterval(600 + s);
      }
      ++sendersDone;
    });
  }
  threads.emplace_back([&] {
    while (!stop.load()) {
      dispatcher.setOptOut(false);
      (void)dispatcher.optOut();
      (void)dispatcher.dispatchInterval();
    }
  });

  EXPECT_TRUE(h.driveUntil([&] { return sendersDone.load() == kSenders; }));
  stop = true;
  for (auto& t : threads) t.join();
  dispatcher.setDispatchInterval(900);
  h.worker().runUntilIdle();

  EXPECT_EQ(h.storedHits(), kSenders * kHitsPerSender);
  EXPECT_EQ(dispatcher.dispatchInterval(), 900);
  EXPECT_FALSE(dispatcher.optOut());
}

}  // namespace
}  // namespace loomset
