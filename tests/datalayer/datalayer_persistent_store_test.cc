// The SQLite data-layer store on real files: expiry, the row limit, literal prefix clears, keys
// kept byte for byte, damaged rows, unusable directories, failures inside grouped writes, and a
// data layer restoring across instances.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "Library/Util/platform/PosixFileSystem.h"
#include "container/BadInput.h"
#include "datalayer/DataLayerStoreTestUtil.h"
#include "datalayer/DataLayerTestUtil.h"
#include "datalayer/MOXDataLayerPersistentStoreImpl.h"
#include "datalayer/ValueArchive.h"
#include "loomset/Objects.h"

namespace loomset {
namespace {

using namespace obj;
using testing::DataLayerStoreTest;
using testing::text;

constexpr std::int64_t kMinute = 60000;

class FunctionLoadCallback : public MOXDataLayerPersistentStoreCallback {
 public:
  using Fn = std::function<void(const std::vector<MOXKeyValue>&)>;
  explicit FunctionLoadCallback(Fn fn) : fn_(std::move(fn)) {}
  void onKeyValuesLoaded(const std::vector<MOXKeyValue>& keyValues) override { fn_(keyValues); }

 private:
  Fn fn_;
};

std::vector<MOXKeyValue> numbered(const std::string& prefix, int count) {
  std::vector<MOXKeyValue> out;
  for (int i = 0; i < count; ++i) out.emplace_back(prefix + std::to_string(i), i64(i));
  return out;
}

std::vector<MOXKeyValue> named(const std::vector<std::string>& keys) {
  std::vector<MOXKeyValue> out;
  for (const auto& key : keys) out.emplace_back(key, str("value of " + key));
  return out;
}

TEST_F(DataLayerStoreTest, EntriesExpireExactlyAtTheirLifetime) {
  auto store = makeStore();
  const std::int64_t start = platform_.clock().nowMillisInt();
  store->saveKeyValues(
      {MOXKeyValue("a", str("x")), MOXKeyValue("b.c", i64(2)), MOXKeyValue("d", dbl(0.5))},
      kMinute);
  platform_.runUntilIdle();
  for (const auto& row : rows()) EXPECT_EQ(row.expires, start + kMinute);

  platform_.clock().advance(kMinute - 1);
  const auto loaded = load(*store);
  ASSERT_EQ(keys(loaded), (std::vector<std::string>{"a", "b.c", "d"}));
  EXPECT_EQ(text(loaded[0].value()), "x");
  EXPECT_TRUE(asNumber(loaded[1].value())->isIntegerKind());
  EXPECT_EQ(asNumber(loaded[2].value())->doubleValue(), 0.5);

  platform_.clock().advance(1);
  EXPECT_TRUE(load(*store).empty());
  EXPECT_TRUE(rows().empty());  // deleted, not only skipped
}

TEST_F(DataLayerStoreTest, TheSameKeyTwiceComesBackInSavingOrderUntilTheLaterOneExpires) {
  auto store = makeStore();
  store->saveKeyValues({MOXKeyValue("k", str("early"))}, 10 * kMinute);
  store->saveKeyValues({MOXKeyValue("k", str("late"))}, kMinute);
  const auto both = load(*store);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(text(both[0].value()), "early");
  EXPECT_EQ(text(both[1].value()), "late");

  platform_.clock().advance(kMinute);
  const auto left = load(*store);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(text(left[0].value()), "early");
}

TEST_F(DataLayerStoreTest, AFullStoreDropsItsOldestRowsToMakeRoom) {
  auto store = makeStore();
  store->saveKeyValues(numbered("old", 2000), kMinute);
  platform_.runUntilIdle();
  EXPECT_EQ(log_->count("DataLayer store full"), 0);

  store->saveKeyValues(numbered("new", 5), kMinute);
  platform_.runUntilIdle();
  EXPECT_EQ(log_->count("DataLayer store full, deleting 5 entries to make room."), 1);
  const auto stored = storedKeys();
  ASSERT_EQ(stored.size(), 2000u);
  EXPECT_EQ(stored.front(), "old5");
  EXPECT_EQ(stored[1994], "old1999");
  EXPECT_EQ(stored.back(), "new4");
}

// Saves queued together share one transaction; what each of them sees (the number of rows, what
// has expired) must still be what it would see on its own.
TEST_F(DataLayerStoreTest, SavesInOneBurstEachSeeTheTableAsItIs) {
  std::vector<MOXKeyValue> full;
  for (int i = 0; i < 2000; ++i) {
    full.emplace_back("g" + std::to_string(i % 2) + "." + std::to_string(i), i64(i));
  }
  auto store = makeStore();
  store->saveKeyValues(full, kMinute);
  store->saveKeyValues(numbered("a", 5), kMinute);  // drops g*.0 to g*.4
  store->saveKeyValues(numbered("b", 5), kMinute);  // drops g*.5 to g*.9
  store->clearKeysWithPrefix("g1");                 // the 995 odd ones left
  store->saveKeyValues(numbered("c", 5), kMinute);  // fits
  platform_.runUntilIdle();
  EXPECT_EQ(log_->count("DataLayer store full, deleting 5 entries to make room."), 2);
  EXPECT_EQ(log_->count("DataLayer store full"), 2);
  EXPECT_EQ(rows().size(), 2000u - 10u - 995u + 15u);
}

TEST_F(DataLayerStoreTest, AnEntryThatExpiresDuringABurstIsGoneBeforeTheNextSave) {
  auto store = makeStore();
  store->saveKeyValues({MOXKeyValue("long", i64(1))}, 10 * kMinute);
  platform_.runUntilIdle();
  store->saveKeyValues({MOXKeyValue("short", i64(2))}, kMinute);
  // A load in the middle of the burst lets time pass before the next save.
  store->loadSaved(std::make_shared<FunctionLoadCallback>(
      [&](const std::vector<MOXKeyValue>&) { platform_.clock().advance(kMinute); }));
  store->saveKeyValues({MOXKeyValue("after", i64(3))}, kMinute);
  platform_.runUntilIdle();
  EXPECT_EQ(storedKeys(), (std::vector<std::string>{"long", "after"}));
}

TEST_F(DataLayerStoreTest, OneLargeSaveIsKeptWholeAndTheNextSaveTrims) {
  auto store = makeStore();
  store->saveKeyValues(numbered("big", 2500), kMinute);
  platform_.runUntilIdle();
  EXPECT_EQ(log_->count("DataLayer store full, deleting 0 entries to make room."), 1);
  EXPECT_EQ(rows().size(), 2500u);

  store->saveKeyValues(numbered("next", 1), kMinute);
  platform_.runUntilIdle();
  EXPECT_EQ(log_->count("DataLayer store full, deleting 501 entries to make room."), 1);
  const auto stored = storedKeys();
  ASSERT_EQ(stored.size(), 2000u);
  EXPECT_EQ(stored.front(), "big501");
  EXPECT_EQ(stored.back(), "next0");
}

TEST_F(DataLayerStoreTest, ClearingAPrefixMatchesItLiterallyAndWithItsLetterCase) {
  auto store = makeStore();
  store->saveKeyValues(
      named({"a", "a.b.c", "ab", "b.a", "a_b.c", "aXb.c", "AXB.c", "a%.x", "abc.d", "A.b", "a_b"}),
      kMinute);
  store->clearKeysWithPrefix("a");
  platform_.runUntilIdle();
  EXPECT_EQ(storedKeys(), (std::vector<std::string>{"ab", "b.a", "a_b.c", "aXb.c", "AXB.c", "a%.x",
                                                    "abc.d", "A.b", "a_b"}));

  // "_" and "%" are characters like any other, and letter case counts.
  store->clearKeysWithPrefix("a_b");
  store->clearKeysWithPrefix("a%");
  store->clearKeysWithPrefix("ABC");
  platform_.runUntilIdle();
  EXPECT_EQ(storedKeys(),
            (std::vector<std::string>{"ab", "b.a", "aXb.c", "AXB.c", "abc.d", "A.b"}));
  EXPECT_FALSE(log_->contains("Error"));
}

TEST_F(DataLayerStoreTest, KeysComeBackByteForByte) {
  const std::vector<std::string> numeric = {"1.50", "007", "1e3", "0x10", " 5", "2", "-0", "1.0"};
  auto store = makeStore();
  store->saveKeyValues(named(numeric), kMinute);
  EXPECT_EQ(keys(load(*store)), numeric);
  for (const auto& row : rows()) EXPECT_EQ(row.keyType, "blob");

  store->clearKeysWithPrefix("1");
  platform_.runUntilIdle();
  EXPECT_EQ(storedKeys(), (std::vector<std::string>{"007", "1e3", "0x10", " 5", "2", "-0"}));
}

TEST_F(DataLayerStoreTest, RowsOlderVersionsWroteAsTextStillLoadAndClear) {
  const std::int64_t expires = platform_.clock().nowMillisInt() + kMinute;
  // The key column's numeric affinity turned such keys into numbers.
  insertRowAsText("1.50", *datalayer::archiveValue(str("number")), expires);
  insertRowAsText("a.b", *datalayer::archiveValue(str("text")), expires);
  insertRowAsText("12", *datalayer::archiveValue(str("integer")), expires);
  const auto before = rows();
  ASSERT_EQ(before.size(), 3u);
  EXPECT_EQ(before[0].keyType, "real");
  EXPECT_EQ(before[1].keyType, "text");

  auto store = makeStore();
  const auto loaded = load(*store);
  EXPECT_EQ(keys(loaded), (std::vector<std::string>{"1.5", "a.b", "12"}));
  EXPECT_EQ(text(loaded[0].value()), "number");

  store->clearKeysWithPrefix("1");
  store->clearKeysWithPrefix("a");
  platform_.runUntilIdle();
  EXPECT_EQ(storedKeys(), std::vector<std::string>{"12"});
}

TEST_F(DataLayerStoreTest, ARowThatDoesNotDecodeIsDroppedWithALine) {
  auto store = makeStore();
  store->saveKeyValues({MOXKeyValue("before", str("x"))}, kMinute);
  platform_.runUntilIdle();
  insertRowAsText("broken", "\xff\x00garbage", platform_.clock().nowMillisInt() + kMinute);
  store->saveKeyValues({MOXKeyValue("after", str("y"))}, kMinute);
  EXPECT_EQ(keys(load(*store)), (std::vector<std::string>{"before", "after"}));
  EXPECT_EQ(log_->messages(kMOXLogLevelError),
            std::vector<std::string>{"Dropping a data-layer entry that does not decode: broken"});
}

TEST_F(DataLayerStoreTest, EveryKindOfUndecodableRowIsDroppedAndTheOthersKept) {
  using testing::lengthDelimited;
  const std::string good = *datalayer::archiveValue(dict({{"a", array({i64(1), str("b")})}}));
  const std::vector<std::pair<std::string, std::string>> damaged = {
      {"empty", ""},
      {"one byte", "\xff"},
      {"truncated", good.substr(0, good.size() - 2)},
      {"trailing bytes", good + "\x07"},
      {"random", testing::randomBytes(65536)},
      {"nested deep", testing::deepArchiveBytes(testing::kDeep)},
      // Valid wire form, wrong shape: a map entry without its value, a floating number stored as
      // a whole one.
      {"entry without value",
       lengthDelimited(7, lengthDelimited(1, lengthDelimited(1, lengthDelimited(1, "k"))))},
      {"mismatched number", std::string("\x19", 1) + std::string(8, '\0') + "\x50\x04"},
  };
  auto store = makeStore();
  store->saveKeyValues({MOXKeyValue("before", str("x"))}, kMinute);
  platform_.runUntilIdle();
  for (const auto& [key, bytes] : damaged) {
    insertRowAsText(key, bytes, platform_.clock().nowMillisInt() + kMinute);
  }
  store->saveKeyValues({MOXKeyValue("after", str("y"))}, kMinute);
  EXPECT_EQ(keys(load(*store)), (std::vector<std::string>{"before", "after"}));
  std::vector<std::string> lines;
  for (const auto& entry : damaged) {
    lines.push_back("Dropping a data-layer entry that does not decode: " + entry.first);
  }
  EXPECT_EQ(log_->messages(kMOXLogLevelError), lines);
}

TEST_F(DataLayerStoreTest, AValueOutsideTheValueModelIsSkippedWithALine) {
  auto store = makeStore();
  store->saveKeyValues({MOXKeyValue("bytes", std::make_shared<Data>(std::vector<std::uint8_t>{1})),
                        MOXKeyValue("kept", array({null(), boolean(false)}))},
                       kMinute);
  const auto loaded = load(*store);
  EXPECT_EQ(keys(loaded), std::vector<std::string>{"kept"});
  EXPECT_TRUE(log_->contains("bytes"));
  EXPECT_EQ(log_->messages(kMOXLogLevelError).size(), 1u);
}

TEST_F(DataLayerStoreTest, AnUnusableDirectoryLoadsAsEmptyAndLetsTheDataLayerWork) {
  // The data root is a regular file: no Library directory can be made under it.
  const std::string root = platform_.tempDir().file("not-a-directory");
  ASSERT_TRUE(PosixFileSystem().writeFileAtomically(root, "x"));
  auto bundle = std::make_shared<Platform>(*platform_.platform());
  bundle->directories = DataDirectories(root);
  auto store = std::make_shared<MOXDataLayerPersistentStoreImpl>(bundle);

  EXPECT_TRUE(load(*store).empty());
  EXPECT_TRUE(log_->contains("Unable to open WEN database"));
  store->saveKeyValues(numbered("k", 3), kMinute);
  store->clearKeysWithPrefix("k");
  platform_.runUntilIdle();

  auto dataLayer = MOXDataLayer::createWithPersistentStore(store);
  platform_.runUntilIdle();
  dataLayer->push(dict({{"k", str("v")}, {"wen", dict({{"lifetime", str("1h")}})}}));
  EXPECT_EQ(text(dataLayer->get("k")), "v");
  platform_.runUntilIdle();
  EXPECT_EQ(log_->count("Unable to open WEN database"), 5);  // load, save, clear, load, save
}

TEST_F(DataLayerStoreTest, ADamagedFileIsLeftAloneAndLoadsAsEmpty) {
  PosixFileSystem().createDirectories(platform_.dataRoot() + "/Library");
  const std::string junk(8192, 'j');
  ASSERT_TRUE(PosixFileSystem().writeFileAtomically(databasePath(), junk));
  auto store = makeStore();
  EXPECT_TRUE(load(*store).empty());
  EXPECT_TRUE(log_->contains("Error initializing WEN database: file is not a database"));
  EXPECT_EQ(PosixFileSystem().readFile(databasePath()), junk);
}

TEST_F(DataLayerStoreTest, WithoutADataRootNothingIsStoredOrLogged) {
  auto bundle = std::make_shared<Platform>(*platform_.platform());
  bundle->directories = DataDirectories("");
  auto store = std::make_shared<MOXDataLayerPersistentStoreImpl>(bundle);
  store->saveKeyValues(numbered("k", 3), kMinute);
  store->clearKeysWithPrefix("k");
  EXPECT_TRUE(load(*store).empty());
  EXPECT_TRUE(log_->lines().empty());
  EXPECT_FALSE(PosixFileSystem().exists(platform_.dataRoot() + "/Library"));
}

// A row the file refuses in the middle of a burst of saves, the way SQLite can fail a statement
// (FAIL, ABORT) or the whole transaction (ROLLBACK, as a full disk may): whatever the burst wrote
// before stays written, as if every statement had been committed on its own.
TEST_F(DataLayerStoreTest, ARefusedRowInABurstLeavesEveryOtherRowWritten) {
  for (const std::string resolution : {"ROLLBACK", "ABORT", "FAIL"}) {
    SCOPED_TRACE(resolution);
    execute("DROP TABLE IF EXISTS datalayer");
    execute(
        "CREATE TRIGGER refuse BEFORE INSERT ON datalayer WHEN CAST(NEW.key AS TEXT) = 'bad' "
        "BEGIN SELECT RAISE(" +
        resolution + ", 'refused by the test'); END;");
    log_->clear();
    auto store = makeStore();
    store->saveKeyValues(named({"a1", "a2"}), kMinute);
    store->clearKeysWithPrefix("a1");
    store->saveKeyValues(named({"b", "bad", "c"}), kMinute);
    store->saveKeyValues(named({"d"}), kMinute);
    platform_.runUntilIdle();
    EXPECT_EQ(storedKeys(), (std::vector<std::string>{"a2", "b", "c", "d"}));
    EXPECT_EQ(log_->messages(kMOXLogLevelError),
              std::vector<std::string>{"Failed to insert data: refused by the test"});
  }
}

TEST_F(DataLayerStoreTest, TheFileIsCommittedAndReleasedWhenTheQueueRunsDry) {
  auto store = makeStore();
  bool flushed = false;
  store->saveKeyValues(numbered("k", 10), kMinute);
  store->flush([&] {
    flushed = true;
    EXPECT_EQ(rows().size(), 10u);  // committed, visible to another connection
  });
  store->saveKeyValues(numbered("m", 1), kMinute);
  platform_.runUntilIdle();
  EXPECT_TRUE(flushed);
  // No transaction or lock is left behind: another writer gets the file at once.
  SqliteDatabase other = openFile();
  EXPECT_TRUE(other.execute("BEGIN IMMEDIATE; DELETE FROM datalayer; COMMIT;").ok());
}

TEST_F(DataLayerStoreTest, ALifetimeValueSurvivesANewDataLayerUntilItExpires) {
  {
    auto dataLayer = MOXDataLayer::createWithPersistentStore(makeStore());
    platform_.runUntilIdle();
    dataLayer->push(dict({{"user", dict({{"name", str("ann")}, {"visits", i64(3)}})},
                          {"wen", dict({{"lifetime", str("1h")}})}}));
    dataLayer->push(dict({{"gone", str("soon")}, {"wen", dict({{"lifetime", str("1h")}})}}));
    dataLayer->clearPersistentKeysWithPrefix("gone");
    platform_.runUntilIdle();
  }
  auto restored = MOXDataLayer::createWithPersistentStore(makeStore());
  platform_.runUntilIdle();
  EXPECT_EQ(text(restored->get("user.name")), "ann");
  ASSERT_TRUE(asNumber(restored->get("user.visits")));
  EXPECT_TRUE(asNumber(restored->get("user.visits"))->isIntegerKind());
  EXPECT_EQ(restored->get("gone"), nullptr);
  EXPECT_EQ(restored->get("wen.lifetime"), nullptr);

  platform_.clock().advance(3600000);
  auto expired = MOXDataLayer::createWithPersistentStore(makeStore());
  platform_.runUntilIdle();
  EXPECT_EQ(expired->get("user"), nullptr);
  EXPECT_TRUE(rows().empty());
}

TEST(DataLayerStoreThreads, ADataLayerOverTheStoreOnARealPoolRestoresAndSaves) {
  testing::ScopedPlatform platform;
  auto pool = std::make_shared<ThreadPoolExecutor>(2);
  auto makeStore = [&] {
    return std::make_shared<MOXDataLayerPersistentStoreImpl>(
        MOXDataLayerPersistentStoreImpl::kDefaultDatabaseName, 2000, pool, platform.platform());
  };
  auto store = makeStore();
  auto dataLayer = MOXDataLayer::createWithPersistentStore(store);
  std::thread pushers[2];
  for (int t = 0; t < 2; ++t) {
    pushers[t] = std::thread([&, t] {
      for (int i = 0; i < 50; ++i) {
        dataLayer->push(dict({{"t" + std::to_string(t) + "_" + std::to_string(i), i64(i)},
                              {"wen", dict({{"lifetime", str("1d")}})}}));
      }
    });
  }
  for (auto& pusher : pushers) pusher.join();
  std::promise<void> flushed;
  store->flush([&] { flushed.set_value(); });
  flushed.get_future().wait();

  auto next = MOXDataLayer::createWithPersistentStore(makeStore());
  next->push(dict({{"after", i64(1)}}));  // waits for the restore on the pool
  EXPECT_EQ(text(next->get("t0_49")), "49");
  EXPECT_EQ(text(next->get("t1_0")), "0");
}

}  // namespace
}  // namespace loomset
