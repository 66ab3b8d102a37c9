// The pixel hit store on real SQLite files: ordering, the retry filter, the limits, the previous
// schema, damaged files, and a full disk that must not cost hits.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "Library/Util/sqlite/SqliteDatabase.h"
#include "support/FullDiskVfs.h"
#include "support/ScopedPlatform.h"
#include "tags/MOXDataProvider.h"
#include "tags/MOXHitTable.h"

namespace loomset {
namespace {

using testing::ScopedPlatform;

std::vector<std::string> urlsOf(const std::vector<MOXHit>& hits) {
  std::vector<std::string> urls;
  for (const MOXHit& hit : hits) urls.push_back(hit.dispatchURL.value_or("(none)"));
  return urls;
}

// A store on a file of the test's data root, run by the test's main loop.
class PixelStoreTest : public ::testing::Test {
 protected:
  std::shared_ptr<MOXDataProvider> openStore() {
    MOXDataProvider::Options options;
    options.path = path();
    options.worker = platform_.platform()->mainLoop;
    auto store = MOXDataProvider::create(options);
    platform_.runUntilIdle();
    return store;
  }
  std::string path() const { return platform_.dataRoot() + "/Library/WEN.sql"; }
  std::vector<MOXHit> fetch(MOXDataProvider& store, std::size_t limit, bool retryFilter) {
    std::vector<MOXHit> found;
    auto done = [&](std::vector<MOXHit> hits) { found = std::move(hits); };
    if (retryFilter) {
      store.fetchNotRecentlyAttemptedHitsWithLimit(limit, done);
    } else {
      store.fetchHitsWithLimit(limit, done);
    }
    platform_.runUntilIdle();
    return found;
  }
  void add(MOXDataProvider& store, const std::string& url, double secondsLater = 1) {
    store.addHitWithURLString(url);
    platform_.runUntilIdle();
    platform_.clock().advanceSeconds(secondsLater);
  }

  ScopedPlatform platform_;
};

TEST_F(PixelStoreTest, FetchesOldestFirstAndLeavesOutRecentFailures) {
  auto store = openStore();
  EXPECT_TRUE(store->hasHits());  // believed pending until a fetch or save says otherwise
  EXPECT_TRUE(fetch(*store, 0, true).empty());
  EXPECT_FALSE(store->hasHits());

  add(*store, "http://a/1");
  add(*store, "http://a/2");
  add(*store, "http://a/3");
  EXPECT_TRUE(store->hasHits());
  EXPECT_EQ(urlsOf(fetch(*store, 2, false)),
            (std::vector<std::string>{"http://a/1", "http://a/2"}));

  // The first fails: it is left out for 120 seconds, its first failure time stays.
  auto first = fetch(*store, 1, true);
  store->updateFailedHits(first);
  platform_.runUntilIdle();
  const double failedAt = platform_.clock().nowSeconds();
  EXPECT_EQ(urlsOf(fetch(*store, 0, true)), (std::vector<std::string>{"http://a/2", "http://a/3"}));
  platform_.clock().advanceSeconds(119);
  EXPECT_EQ(fetch(*store, 0, true).size(), 2u);
  platform_.clock().advanceSeconds(1);
  auto again = fetch(*store, 1, true);
  ASSERT_EQ(urlsOf(again), std::vector<std::string>{"http://a/1"});
  EXPECT_EQ(again[0].dispatchTime, failedAt);
  EXPECT_EQ(again[0].lastDispatchTime, failedAt);
  store->updateFailedHits(again);
  platform_.runUntilIdle();
  auto later = fetch(*store, 0, false);
  EXPECT_EQ(later[0].dispatchTime, failedAt);
  EXPECT_EQ(later[0].lastDispatchTime, platform_.clock().nowSeconds());

  store->deleteHits(fetch(*store, 0, false));
  platform_.runUntilIdle();
  EXPECT_FALSE(store->hasHits());
  EXPECT_TRUE(fetch(*store, 0, false).empty());
}

TEST_F(PixelStoreTest, KeepsTheNewestTwoThousandAndNothingOlderThanThirtyDays) {
  auto store = openStore();
  for (int i = 0; i < 2001; ++i) {
    store->addHitWithURLString("http://a/" + std::to_string(i));
    platform_.clock().advanceSeconds(0.001);
  }
  platform_.runUntilIdle();
  auto kept = fetch(*store, 0, false);
  ASSERT_EQ(kept.size(), 2000u);
  EXPECT_EQ(kept.front().dispatchURL, "http://a/1");
  EXPECT_EQ(kept.back().dispatchURL, "http://a/2000");

  // Thirty days later, the next save drops every hit made at or before that age.
  platform_.clock().advanceSeconds(MOXDataProvider::kDefaultMaxHitAge);
  add(*store, "http://a/new");
  EXPECT_EQ(urlsOf(fetch(*store, 0, false)), std::vector<std::string>{"http://a/new"});
}

TEST_F(PixelStoreTest, HitsSurviveReopeningAndOnExitCommits) {
  {
    auto store = openStore();
    add(*store, "http://a/1");
    store->addHitWithURLString("http://a/2");
    store->onExit();  // runs the queued insert and commits before returning
  }
  auto reopened = openStore();
  EXPECT_EQ(urlsOf(fetch(*reopened, 0, false)),
            (std::vector<std::string>{"http://a/1", "http://a/2"}));
}

TEST_F(PixelStoreTest, ReadsAFileOfThePreviousSchemaAndAddsTheColumn) {
  platform_.platform()->fileSystem->createDirectories(platform_.dataRoot() + "/Library");
  {
    SqliteDatabase db;
    ASSERT_TRUE(db.open(path()).ok());
    ASSERT_TRUE(db.execute("CREATE TABLE MOXHit (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                           "dispatchURL TEXT, timestamp REAL, dispatchTime REAL, "
                           "retryCount INTEGER NOT NULL DEFAULT 0);"
                           "INSERT INTO MOXHit (dispatchURL, timestamp, dispatchTime) "
                           "VALUES ('http://old/1', 1699999000, 1699999100)")
                    .ok());
  }
  auto store = openStore();
  auto hits = fetch(*store, 0, true);
  ASSERT_EQ(urlsOf(hits), std::vector<std::string>{"http://old/1"});
  EXPECT_EQ(hits[0].dispatchTime, 1699999100);
  EXPECT_FALSE(hits[0].lastDispatchTime);
  store->updateFailedHits(hits);
  platform_.runUntilIdle();
  EXPECT_TRUE(fetch(*store, 0, true).empty());  // the new column now filters it
}

TEST_F(PixelStoreTest, ADamagedFileIsReplacedAndAnUnopenableOneIsKept) {
  platform_.platform()->fileSystem->createDirectories(platform_.dataRoot() + "/Library");
  ASSERT_TRUE(platform_.platform()->fileSystem->writeFileAtomically(
      path(), std::string(4096, 'x')));  // not a database
  {
    auto store = openStore();
    add(*store, "http://a/1");
    EXPECT_EQ(fetch(*store, 0, false).size(), 1u);
  }
  // A path that cannot be opened (a directory in its place) yields a store that does nothing,
  // and whatever is there is left alone.
  MOXHitTable::open(path());
  EXPECT_FALSE(MOXHitTable::open(platform_.dataRoot() + "/Library"));
  EXPECT_TRUE(platform_.platform()->fileSystem->exists(platform_.dataRoot() + "/Library"));
}

// A commit that the full disk refuses keeps its hits: they are committed once there is room.
TEST_F(PixelStoreTest, AFullDiskDelaysHitsButDoesNotLoseThem) {
  testing::FullDiskVfs disk;
  auto store = openStore();
  add(*store, "http://a/1");
  disk.setFull(true);
  add(*store, "http://a/2");
  add(*store, "http://a/3");
  disk.setFull(false);
  add(*store, "http://a/4");
  store->onExit();
  store.reset();
  auto reopened = openStore();
  EXPECT_EQ(urlsOf(fetch(*reopened, 0, false)),
            (std::vector<std::string>{"http://a/1", "http://a/2", "http://a/3", "http://a/4"}));
}

}  // namespace
}  // namespace loomset
