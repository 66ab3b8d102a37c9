#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "datalayer/DataLayerTestUtil.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/Objects.h"
#include "support/RecordingDataLayerStore.h"

namespace loomset {
namespace {

using namespace obj;
using testing::FunctionListener;
using testing::KeyRecorder;
using testing::text;

std::string firstKey(const std::shared_ptr<Dictionary>& update) {
  return describe(update->entries().at(0).first);
}

TEST(DataLayerPush, NestedPushesAreProcessedBreadthFirstAfterTheCurrentUpdate) {
  auto dl = MOXDataLayer::create();
  std::vector<std::string> log;
  dl->registerListener(FunctionListener::make([&](const auto& update) {
    const std::string key = firstKey(update);
    log.push_back("enter " + key);
    if (key == "start") {
      dl->push(dict({{"A", i64(1)}}));
      // Queued, not yet merged.
      log.push_back(dl->get("A") ? "A merged early" : "A queued");
      dl->push(dict({{"B", i64(1)}}));
    } else if (key == "A") {
      dl->push(dict({{"A1", i64(1)}}));
    } else if (key == "B") {
      dl->push(dict({{"B1", i64(1)}}));
    }
    log.push_back("exit " + key);
  }));

  dl->push(dict({{"start", i64(1)}}));
  EXPECT_EQ(log, (std::vector<std::string>{"enter start", "A queued", "exit start", "enter A",
                                           "exit A", "enter B", "exit B", "enter A1", "exit A1",
                                           "enter B1", "exit B1"}));
  EXPECT_EQ(text(dl->get("B1")), "1");
}

TEST(DataLayerPush, ListenersGetTheUpdateAsPushedAfterItIsMerged) {
  auto dl = MOXDataLayer::create();
  auto pushed = dict({{"a.b", i64(1)}});
  std::shared_ptr<Dictionary> received;
  ObjectPtr seenByListener;
  dl->registerListener(FunctionListener::make([&](const auto& update) {
    received = update;
    seenByListener = dl->get("a.b");  // a listener may read
  }));
  dl->push(pushed);
  EXPECT_EQ(received, pushed);
  EXPECT_EQ(text(seenByListener), "1");
}

TEST(DataLayerPush, ListenerChangesDuringANotificationApplyFromTheNextUpdate) {
  auto dl = MOXDataLayer::create();
  auto late = std::make_shared<KeyRecorder>();
  auto first = std::make_shared<KeyRecorder>();
  dl->registerListener(first);
  dl->registerListener(first);  // no duplicates
  std::shared_ptr<FunctionListener> registrar;
  registrar = FunctionListener::make([&](const auto&) {
    dl->registerListener(late);
    dl->unregisterListener(first);
  });
  dl->registerListener(registrar);

  dl->push(dict({{"one", i64(1)}}));
  EXPECT_EQ(first->keys(), std::vector<std::string>{"one"});
  EXPECT_TRUE(late->keys().empty());

  dl->push(dict({{"two", i64(2)}}));
  EXPECT_EQ(first->keys(), std::vector<std::string>{"one"});
  EXPECT_EQ(late->keys(), std::vector<std::string>{"two"});
}

TEST(DataLayerPush, EndlessPushingFailsAtTheLimitAndLeavesTheDataLayerUsable) {
  auto store = std::make_shared<testing::RecordingDataLayerStore>();
  auto dl = MOXDataLayer::createWithPersistentStore(store);
  int calls = 0;
  auto looper = FunctionListener::make([&](const auto&) {
    ++calls;
    dl->push(dict({{"again", i64(calls)}}));
  });
  dl->registerListener(looper);

  try {
    dl->push(dict({{"start", i64(0)}, {"wen", dict({{"lifetime", str("1h")}})}}));
    FAIL() << "expected MOXListenerPushLoop";
  } catch (const MOXListenerPushLoop& e) {
    EXPECT_EQ(e.name(), "MOXListenerPushLoop");
    EXPECT_EQ(e.reason(), "Seems like an infinite loop of pushing to the data layer?");
  }
  EXPECT_EQ(calls, 501);
  EXPECT_EQ(text(dl->get("again")), "500");  // processed updates stay merged
  EXPECT_TRUE(store->saves().empty());       // the outermost update is not saved

  // Lock, depth and queue are restored: later pushes work, from this thread and another.
  dl->unregisterListener(looper);
  auto seen = std::make_shared<KeyRecorder>();
  dl->registerListener(seen);
  dl->push(dict({{"after", i64(1)}}));
  std::thread other([&] { dl->push(dict({{"elsewhere", i64(1)}})); });
  other.join();
  EXPECT_EQ(seen->keys(), (std::vector<std::string>{"after", "elsewhere"}));

  // 500 updates in one drain are still fine.
  dl->unregisterListener(seen);
  int remaining = 499;
  dl->registerListener(FunctionListener::make([&](const auto&) {
    if (remaining-- > 0) dl->push(dict({{"n", i64(remaining)}}));
  }));
  EXPECT_NO_THROW(dl->push(dict({{"begin", i64(1)}})));
  EXPECT_EQ(text(dl->get("n")), "0");
}

// Only the push-loop limit empties the queue. An update a listener queued before it failed is
// kept and processed at the next push, before that push's own update.
TEST(DataLayerPush, AListenerFailureLeavesThroughPushAndKeepsQueuedUpdatesForTheNextPush) {
  auto dl = MOXDataLayer::create();
  auto seen = std::make_shared<KeyRecorder>();
  dl->registerListener(seen);
  dl->registerListener(FunctionListener::make([&](const auto& update) {
    if (firstKey(update) == "boom") {
      dl->push(dict({{"queued", i64(1)}}));
      throw std::runtime_error("listener failed");
    }
  }));

  EXPECT_THROW(dl->push(dict({{"boom", i64(1)}})), std::runtime_error);
  EXPECT_EQ(text(dl->get("boom")), "1");
  EXPECT_EQ(dl->get("queued"), nullptr);

  std::thread other([&] { dl->push(dict({{"next", i64(1)}})); });
  other.join();
  EXPECT_EQ(text(dl->get("queued")), "1");
  dl->push(dict({{"last", i64(1)}}));
  EXPECT_EQ(seen->keys(), (std::vector<std::string>{"boom", "queued", "next", "last"}));
}

TEST(DataLayerPush, ConcurrentPushersWithPushingListenersLoseNothing) {
  auto dl = MOXDataLayer::create();
  constexpr int kThreads = 4;
  constexpr int kPerThread = 150;
  std::atomic<int> updates{0};
  std::atomic<int> notMergedYet{0};
  dl->registerListener(FunctionListener::make([&](const auto& update) {
    ++updates;
    const std::string key = firstKey(update);
    if (key.rfind("shared.", 0) != 0) return;
    if (!dl->get(key)) ++notMergedYet;
    dl->push(dict({{"echo." + key.substr(7), i64(1)}}));
  }));

  // A reader walks the maps it gets while writers keep changing the same subtree.
  std::atomic<bool> done{false};
  std::thread reader([&] {
    std::size_t seen = 0;
    while (!done.load()) {
      const ObjectPtr snapshot = dl->get("shared");
      if (const Dictionary* shared = asDictionary(snapshot)) {
        for (const auto& [k, v] : shared->entries()) seen += text(k).size() + text(v).size();
      }
    }
    EXPECT_GE(seen, 0u);
  });
  std::vector<std::thread> pushers;
  for (int t = 0; t < kThreads; ++t) {
    pushers.emplace_back([&, t] {
      for (int n = 0; n < kPerThread; ++n) {
        dl->push(dict({{"shared.t" + std::to_string(t) + "_" + std::to_string(n), i64(n)}}));
      }
    });
  }
  for (auto& p : pushers) p.join();
  done = true;
  reader.join();

  EXPECT_EQ(updates.load(), 2 * kThreads * kPerThread);
  EXPECT_EQ(notMergedYet.load(), 0);
  EXPECT_EQ(asDictionary(dl->get("shared"))->count(), std::size_t{kThreads * kPerThread});
  EXPECT_EQ(asDictionary(dl->get("echo"))->count(), std::size_t{kThreads * kPerThread});
}

}  // namespace
}  // namespace loomset
