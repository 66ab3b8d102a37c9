// The properties store over a real database file: hit numbers per tracking id, their reset on a
// new client id, the storage limit, the install-campaign flag, table validation, and a full disk.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>

#include "analytics/PLULog.h"
#include "analytics/store/PLUAnalyticsPropertiesStore.h"
#include "analytics/store/PLUSqlStore.h"
#include "loomset/platform/EventLoop.h"
#include "support/FakeClock.h"
#include "support/FullDiskVfs.h"
#include "support/PLURecording.h"
#include "support/TempDir.h"

namespace loomset {
namespace {

class PLUPropertiesStoreTest : public ::testing::Test {
 protected:
  PLUPropertiesStoreTest() { plu_log::setSharedLogger(log_); }
  ~PLUPropertiesStoreTest() override {
    plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
  }

  // A new SQL store and properties store over the same file, as after a restart.
  std::unique_ptr<PLUAnalyticsPropertiesStore> open() {
    return std::make_unique<PLUAnalyticsPropertiesStore>(
        PLUSqlStore::create("kestrel-aux-v4.sql", dir_.path()), clock_);
  }
  std::string path() const { return dir_.file("kestrel-aux-v4.sql"); }

  testing::TempDir dir_;
  std::shared_ptr<testing::FakeClock> clock_ = std::make_shared<testing::FakeClock>();
  std::shared_ptr<testing::PLURecordingLogger> log_ =
      std::make_shared<testing::PLURecordingLogger>();
};

TEST_F(PLUPropertiesStoreTest, BuildsTheTableAndUpsertTexts) {
  auto store = open();
  EXPECT_EQ(store->createTableSql(),
            "CREATE TABLE IF NOT EXISTS properties ('tid' TEXT PRIMARY KEY NOT NULL, 'cid' TEXT "
            "NOT NULL, 'hit_number' INTEGER NOT NULL, 'last_modified_time_since_1970' REAL NOT "
            "NULL, 'checked_iad_campaign' INTEGER NOT NULL);");
  EXPECT_EQ(store->upsertSql(),
            "INSERT OR REPLACE INTO properties (tid, cid, hit_number, "
            "last_modified_time_since_1970, checked_iad_campaign) VALUES (?, ?, ?, ?, ?);");
}

TEST_F(PLUPropertiesStoreTest, NumbersHitsPerTrackingIdAcrossARestart) {
  {
    auto store = open();
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "0");
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "1");
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-2", "c1"), "0");
    clock_->advanceSeconds(10);
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "2");
    const auto record = store->propertyRecordForTrackingId("UA-1");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->cid, "c1");
    EXPECT_EQ(record->hitNumber, 2);
    EXPECT_EQ(record->lastModifiedTimeSince1970, clock_->nowSeconds());
    EXPECT_EQ(record->checkedIAdCampaign, false);
    EXPECT_EQ(store->trackerIdCount(), 2);
  }
  auto store = open();
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "3");

  // A new client id starts every tracking id over.
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c2"), "0");
  EXPECT_EQ(store->trackerIdCount(), 1);
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-2", "c2"), "0");

  EXPECT_EQ(store->nextHitNumberForTrackingId("", "c2"), std::nullopt);
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", ""), std::nullopt);
  EXPECT_EQ(log_->count("Received empty tracking id or client id"), 2);
  EXPECT_EQ(store->propertyRecordForTrackingId("UA-404"), std::nullopt);
  EXPECT_TRUE(log_->contains("Record for tracking id UA-404 not found"));
}

TEST_F(PLUPropertiesStoreTest, StopsNumberingAtTheLargestHitNumber) {
  auto store = open();
  auto record = store->createPropertyRecordWithTrackingId("UA-1", "c1", 2147483646, false);
  ASSERT_TRUE(record);
  ASSERT_TRUE(store->upsertPropertyRecord(&*record));
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "2147483647");
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), std::nullopt);
  EXPECT_EQ(store->propertyRecordForTrackingId("UA-1")->hitNumber, 2147483647);

  record = store->createPropertyRecordWithTrackingId("UA-2", "c1", -5, false);
  ASSERT_TRUE(store->upsertPropertyRecord(&*record));
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-2", "c1"), std::nullopt);
  EXPECT_TRUE(log_->contains("Record has negative hit number"));

  EXPECT_EQ(store->createPropertyRecordWithTrackingId("", "c1", 0, false), std::nullopt);
  PLUPropertyRecord incomplete{"UA-3", "c1", std::nullopt, 0.0, false};
  EXPECT_FALSE(store->upsertPropertyRecord(&incomplete));
  EXPECT_TRUE(log_->contains("Missing parameter hit_number for binding"));
  // The statement dropped from the cache after the failed binding is prepared again.
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-3", "c1"), "0");
}

TEST_F(PLUPropertiesStoreTest, KeepsAtMostAThousandTrackingIds) {
  auto store = open();
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(store->nextHitNumberForTrackingId("UA-" + std::to_string(i), "c1"), "0");
  }
  EXPECT_TRUE(store->isPropertiesTableFull());
  log_->clear();
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-new", "c1"), std::nullopt);
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-7", "c1"), std::nullopt);
  EXPECT_EQ(log_->count("Reached properties storage limit"), 2);
  EXPECT_EQ(store->propertyRecordForTrackingId("UA-7")->hitNumber, 0);
  // A new client id empties the table, so numbering works again.
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-7", "c2"), "0");
}

TEST_F(PLUPropertiesStoreTest, SetsTheInstallCampaignFlagOnce) {
  auto store = open();
  EXPECT_FALSE(store->setCheckedIAdCampaignForTrackingId("UA-1"));
  EXPECT_TRUE(log_->contains("Attempted to set iAd flag for tracking ID with no record"));
  ASSERT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "0");
  EXPECT_TRUE(store->setCheckedIAdCampaignForTrackingId("UA-1"));
  EXPECT_FALSE(store->setCheckedIAdCampaignForTrackingId("UA-1"));
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "1");  // numbering keeps the flag
  store = open();
  EXPECT_EQ(store->propertyRecordForTrackingId("UA-1")->checkedIAdCampaign, true);
  EXPECT_FALSE(store->setCheckedIAdCampaignForTrackingId("UA-1"));
}

void execute(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST_F(PLUPropertiesStoreTest, RebuildsATableWithMissingColumns) {
  execute(path(),
          "CREATE TABLE properties (tid TEXT PRIMARY KEY, cid TEXT, hit_number INTEGER, "
          "last_modified_time_since_1970 REAL);"
          "INSERT INTO properties VALUES ('UA-1', 'c1', 41, 0);");
  auto store = open();
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "0");
  EXPECT_TRUE(log_->contains("Column not found in properties table"));
  EXPECT_TRUE(log_->contains(
      "Columns of properties table are not valid. Table will be dropped and created new."));
  EXPECT_TRUE(store->hasValidPropertyColumns());
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "1");

  // A valid table is kept as it is at the next opening, extra columns and all.
  log_->clear();
  execute(path(), "ALTER TABLE properties ADD COLUMN extra TEXT;");
  store = open();
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "2");
  EXPECT_FALSE(log_->contains("are not valid"));
}

TEST_F(PLUPropertiesStoreTest, ADamagedFileRestartsHitNumbers) {
  {
    auto store = open();
    ASSERT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "0");
    ASSERT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "1");
  }
  std::ofstream(path(), std::ios::binary | std::ios::trunc) << std::string(3000, '\x7f');
  auto store = open();
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "0");
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "1");
}

std::int64_t committedHitNumber(const std::string& path, const std::string& tid) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  std::int64_t number = -1;
  const std::string sql = "SELECT hit_number FROM properties WHERE tid='" + tid + "'";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    number = sqlite3_column_int64(st, 0);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return number;
}

TEST_F(PLUPropertiesStoreTest, WritesOnItsWorkerShareACommit) {
  auto worker = std::make_shared<AsioEventLoop>("PLUThread-test");
  auto store = std::make_shared<PLUAnalyticsPropertiesStore>(
      PLUSqlStore::create("kestrel-aux-v4.sql", dir_.path()), clock_, worker);
  ASSERT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "0");  // from here: at once
  EXPECT_EQ(committedHitNumber(path(), "UA-1"), 0);
  std::int64_t seenInside = -2;
  worker->postAndWait([&] {
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "1");
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "2");
    seenInside = committedHitNumber(path(), "UA-1");
  });
  EXPECT_EQ(seenInside, 0);
  worker->postAndWait([] {});  // the commit posted behind the burst has run
  EXPECT_EQ(committedHitNumber(path(), "UA-1"), 2);

  // A store going away commits what it still holds.
  worker->postAndWait([&] {
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "3");
    store.reset();
  });
  EXPECT_EQ(committedHitNumber(path(), "UA-1"), 3);
}

TEST_F(PLUPropertiesStoreTest, ReactsOnlyToItsOwnDatabaseOpening) {
  auto store = open();
  auto unrelated = PLUSqlStore::create("other.sql", dir_.path());
  ASSERT_TRUE(unrelated->ensureOpenDatabase());
  EXPECT_FALSE(unrelated->tableExists("properties"));
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "0");

  // Without a database every answer is a logged failure.
  PLUAnalyticsPropertiesStore none(nullptr, clock_);
  EXPECT_EQ(none.nextHitNumberForTrackingId("UA-1", "c1"), std::nullopt);
  EXPECT_FALSE(none.setCheckedIAdCampaignForTrackingId("UA-1"));
  EXPECT_TRUE(log_->contains("Failed to open database"));
}

TEST_F(PLUPropertiesStoreTest, AFullDiskLosesNoRecordAndNumberingGoesOnAfterwards) {
  testing::FullDiskVfs disk;
  {
    auto store = open();
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "0");
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "1");

    disk.setFull(true);
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), std::nullopt);
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-2", "c1"), std::nullopt);
    EXPECT_FALSE(store->setCheckedIAdCampaignForTrackingId("UA-1"));
    EXPECT_TRUE(log_->contains("Failed to insert/update hit number"));
    EXPECT_GT(disk.refusedWrites(), 0);

    disk.setFull(false);
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "2");
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-2", "c1"), "0");
  }
  // Nothing was dropped as damaged: a restart goes on from the last number handed out.
  EXPECT_FALSE(log_->contains("Failed to delete database"));
  EXPECT_EQ(open()->nextHitNumberForTrackingId("UA-1", "c1"), "3");
}

// The first opening of the file on a full disk cannot create the table; the file is kept and
// the table made once space returns.
TEST_F(PLUPropertiesStoreTest, AFullDiskAtTheFirstOpeningIsNotTakenForDamage) {
  {
    auto store = open();
    EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "0");
  }
  testing::FullDiskVfs disk;
  disk.setFull(true);
  auto store = open();
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), std::nullopt);
  disk.setFull(false);
  EXPECT_EQ(store->nextHitNumberForTrackingId("UA-1", "c1"), "1");
}

}  // namespace
}  // namespace loomset
