#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "datalayer/DataLayerTestUtil.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/Objects.h"
#include "support/RecordingDataLayerStore.h"
#include "support/RecordingLogger.h"

namespace loomset {
namespace {

using namespace obj;
using testing::FunctionListener;
using testing::KeyRecorder;
using testing::RecordingDataLayerStore;
using testing::text;

std::vector<MOXKeyValue> savedEntries() {
  return {MOXKeyValue("event", str("restored")), MOXKeyValue("k", str("saved")),
          MOXKeyValue("a.b", i64(1))};
}

TEST(DataLayerRestore, PushesWaitForALateRestoreAndFollowIt) {
  auto store = std::make_shared<RecordingDataLayerStore>(true, savedEntries());
  auto dl = MOXDataLayer::createWithPersistentStore(store);
  ASSERT_TRUE(store->hasPendingLoad());
  auto seen = std::make_shared<KeyRecorder>();
  dl->registerListener(seen);

  std::atomic<bool> pusherStarted{false};
  std::atomic<bool> pushReturned{false};
  std::thread pusher([&] {
    pusherStarted = true;
    dl->push(dict({{"k", str("pushed")}}));
    pushReturned = true;
  });
  while (!pusherStarted) std::this_thread::yield();

  std::atomic<bool> returnedBeforeRestore{false};
  std::thread storeThread([&] {
    returnedBeforeRestore = pushReturned.load();
    store->deliver();
  });
  storeThread.join();
  pusher.join();

  EXPECT_FALSE(returnedBeforeRestore.load());
  EXPECT_EQ(seen->keys(), (std::vector<std::string>{"event", "k", "a", "k"}));
  EXPECT_EQ(text(dl->get("k")), "pushed");
  EXPECT_EQ(text(dl->get("a.b")), "1");
  EXPECT_TRUE(store->saves().empty());  // restored entries are not saved again
}

TEST(DataLayerRestore, ListenersMayPushWhileEntriesAreRestored) {
  auto store = std::make_shared<RecordingDataLayerStore>(true, savedEntries());
  auto dl = MOXDataLayer::createWithPersistentStore(store);
  auto seen = std::make_shared<KeyRecorder>();
  dl->registerListener(seen);
  // Like a tag fired by a restored event: it pushes on the store's thread during restoring.
  dl->registerListener(FunctionListener::make([&](const auto& update) {
    if (update->objectForKey(std::string_view("event"))) {
      dl->push(dict({{"followUp", i64(1)}}));
    }
  }));
  std::thread storeThread([&] { store->deliver(); });
  storeThread.join();
  EXPECT_EQ(seen->keys(), (std::vector<std::string>{"event", "followUp", "k", "a"}));
  dl->push(dict({{"later", i64(1)}}));
  EXPECT_EQ(text(dl->get("later")), "1");
}

TEST(DataLayerRestore, AFailingRestoredEntryNeitherStopsTheRestNorBlocksPushers) {
  testing::ScopedRecordingLogger log;
  auto store = std::make_shared<RecordingDataLayerStore>(true, savedEntries());
  auto dl = MOXDataLayer::createWithPersistentStore(store);
  dl->registerListener(FunctionListener::make([&](const auto& update) {
    if (update->objectForKey(std::string_view("event"))) throw std::runtime_error("tag failed");
  }));
  std::thread storeThread([&] { store->deliver(); });
  storeThread.join();
  EXPECT_TRUE(log->contains("tag failed"));
  EXPECT_EQ(text(dl->get("a.b")), "1");
  dl->push(dict({{"after", i64(1)}}));
  EXPECT_EQ(text(dl->get("after")), "1");
}

TEST(DataLayerRestore, TheStoreKeepsTheDataLayerAliveUntilItCallsBack) {
  auto store = std::make_shared<RecordingDataLayerStore>(true, savedEntries());
  std::weak_ptr<MOXDataLayer> weak;
  auto seen = std::make_shared<KeyRecorder>();
  {
    auto dl = MOXDataLayer::createWithPersistentStore(store);
    dl->registerListener(seen);
    weak = dl;
  }
  EXPECT_FALSE(weak.expired());
  std::thread storeThread([&] { store->deliver(); });
  storeThread.join();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(seen->keys().size(), 3u);
}

TEST(DataLayerRestore, SavedUpdatesComeBackAsEventsInTheNextDataLayer) {
  auto first = std::make_shared<RecordingDataLayerStore>();
  auto dl = MOXDataLayer::createWithPersistentStore(first);
  dl->push(dict({{"event", str("open")}, {"wen", dict({{"lifetime", str("1d")}})}}));
  ASSERT_EQ(first->saves().size(), 1u);

  auto second = std::make_shared<RecordingDataLayerStore>(true, first->saves()[0].keyValues);
  auto next = MOXDataLayer::createWithPersistentStore(second);
  std::vector<std::string> events;
  next->registerListener(FunctionListener::make([&](const auto& update) {
    events.push_back(text(update->objectForKey(std::string_view("event"))));
  }));
  second->deliver();
  EXPECT_EQ(events, std::vector<std::string>{"open"});
  EXPECT_TRUE(second->saves().empty());
}

}  // namespace
}  // namespace loomset
