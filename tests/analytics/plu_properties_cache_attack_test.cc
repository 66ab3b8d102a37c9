// Hit numbering inside one grouped write transaction compared with the same calls made write by
// write, on files that another writer prepared, and with the table changed under the store.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

constexpr const char* kFile = "kestrel-aux-v4.sql";

using Answers = std::vector<std::string>;
using Sequence = std::function<void(PLUAnalyticsPropertiesStore&, PLUSqlStore&, Answers&)>;

void runSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

std::string dump(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return "unopenable";
  std::string out;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT hex(tid), cid, hit_number, checked_iad_campaign FROM properties "
                         "ORDER BY 1, 3",
                         -1, &st, nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int i = 0; i < 4; ++i) {
        const auto* t = sqlite3_column_text(st, i);
        out += t ? reinterpret_cast<const char*>(t) : "NULL";
        out += i == 3 ? "\n" : "|";
      }
    }
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

class PLUPropertiesCacheAttackTest : public ::testing::Test {
 protected:
  PLUPropertiesCacheAttackTest() { plu_log::setSharedLogger(log_); }
  ~PLUPropertiesCacheAttackTest() override {
    worker_->postAndWait([] {});
    plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
  }

  // Runs `sequence` once as one task of the worker (one grouped transaction) and once with every
  // call off the worker (each write commits at once), each on its own directory prepared by
  // `prepare`; answers and final rows must agree.
  void compare(const std::function<void(const std::string&)>& prepare, const Sequence& sequence) {
    Answers grouped, single;
    std::string groupedRows, singleRows;
    {
      testing::TempDir dir;
      if (prepare) prepare(dir.file(kFile));
      auto sql = PLUSqlStore::create(kFile, dir.path());
      auto store = std::make_shared<PLUAnalyticsPropertiesStore>(sql, clock_, worker_);
      worker_->postAndWait([&] { sequence(*store, *sql, grouped); });
      worker_->postAndWait([] {});
      store.reset();
      sql.reset();
      groupedRows = dump(dir.file(kFile));
    }
    clock_->setNowMillis(1.0e12);
    {
      testing::TempDir dir;
      if (prepare) prepare(dir.file(kFile));
      auto sql = PLUSqlStore::create(kFile, dir.path());
      auto store = std::make_shared<PLUAnalyticsPropertiesStore>(sql, clock_, worker_);
      sequence(*store, *sql, single);
      store.reset();
      sql.reset();
      singleRows = dump(dir.file(kFile));
    }
    EXPECT_EQ(grouped, single);
    EXPECT_EQ(groupedRows, singleRows);
  }

  std::shared_ptr<testing::FakeClock> clock_ = std::make_shared<testing::FakeClock>(1.0e12);
  std::shared_ptr<testing::PLURecordingLogger> log_ =
      std::make_shared<testing::PLURecordingLogger>();
  std::shared_ptr<AsioEventLoop> worker_ = std::make_shared<AsioEventLoop>("PLUThread-attack");
};

std::string next(PLUAnalyticsPropertiesStore& s, const std::string& tid,
                 const std::string& cid = "c1") {
  return s.nextHitNumberForTrackingId(tid, cid).value_or("none");
}

const std::string kForeignColumns =
    "cid TEXT NOT NULL, hit_number INTEGER NOT NULL, last_modified_time_since_1970 REAL NOT "
    "NULL, checked_iad_campaign INTEGER NOT NULL";

TEST_F(PLUPropertiesCacheAttackTest, PlainBurstMatchesWriteByWrite) {
  compare(nullptr, [](PLUAnalyticsPropertiesStore& s, PLUSqlStore&, Answers& a) {
    for (const char* t : {"UA-1", "UA-1", "UA-2", "UA-1"}) a.push_back(next(s, t));
    a.push_back(next(s, std::string("UA-1\0zz", 7)));
    a.push_back(next(s, "UA-\xff\xfe"));
    a.push_back(next(s, "UA-\xff\xfe"));
    a.push_back(std::to_string(s.setCheckedIAdCampaignForTrackingId("UA-2")));
    a.push_back(std::to_string(s.setCheckedIAdCampaignForTrackingId("UA-2")));
    a.push_back(next(s, "UA-2"));
    a.push_back(next(s, "UA-1", std::string("c1\0x", 4)));
    a.push_back(next(s, "UA-2", "c1"));
  });
}

TEST_F(PLUPropertiesCacheAttackTest, OddClockValuesMatchWriteByWrite) {
  compare(nullptr, [this](PLUAnalyticsPropertiesStore& s, PLUSqlStore&, Answers& a) {
    for (double t : {std::nan(""), std::numeric_limits<double>::infinity(), -0.0,
                     -std::numeric_limits<double>::infinity(), 5.0, std::nan("")}) {
      clock_->setNowMillis(t);
      a.push_back(next(s, "UA-1"));
      a.push_back(next(s, "UA-2"));
      auto r = s.propertyRecordForTrackingId("UA-1");
      a.push_back(r && r->lastModifiedTimeSince1970
                      ? std::to_string(std::signbit(*r->lastModifiedTimeSince1970)) + ":" +
                            std::to_string(*r->lastModifiedTimeSince1970)
                      : "none");
    }
  });
}

TEST_F(PLUPropertiesCacheAttackTest, LimitReachedExactlyInTheBurst) {
  compare([](const std::string&) {},
          [](PLUAnalyticsPropertiesStore& s, PLUSqlStore&, Answers& a) {
            for (int i = 0; i < 999; ++i)
              s.nextHitNumberForTrackingId("P" + std::to_string(i), "c1");
            s.commitPendingWrites();
            a.push_back(next(s, "UA-x"));
            a.push_back(next(s, "UA-y"));
            a.push_back(next(s, "UA-x"));
            a.push_back(std::to_string(s.trackerIdCount()));
            a.push_back(next(s, "P1", "c2"));
            a.push_back(next(s, "UA-y", "c2"));
            a.push_back(std::to_string(s.trackerIdCount()));
          });
}

// A table with the expected column names whose tracking ids compare without case.
TEST_F(PLUPropertiesCacheAttackTest, ForeignTableWithCaselessIdsMatchesWriteByWrite) {
  compare(
      [](const std::string& path) {
        runSql(path, "CREATE TABLE properties (tid TEXT PRIMARY KEY NOT NULL COLLATE NOCASE, " +
                         kForeignColumns + ");");
      },
      [](PLUAnalyticsPropertiesStore& s, PLUSqlStore&, Answers& a) {
        for (const char* t : {"UA-a", "ua-A", "UA-a", "ua-A", "UA-a"}) a.push_back(next(s, t));
        a.push_back(std::to_string(s.trackerIdCount()));
      });
}

// A table with the expected column names whose tracking ids are not unique.
TEST_F(PLUPropertiesCacheAttackTest, ForeignTableWithoutUniqueIdsMatchesWriteByWrite) {
  compare(
      [](const std::string& path) {
        runSql(path, "CREATE TABLE properties (tid TEXT NOT NULL, " + kForeignColumns + ");");
      },
      [](PLUAnalyticsPropertiesStore& s, PLUSqlStore&, Answers& a) {
        for (int i = 0; i < 4; ++i) a.push_back(next(s, "UA-1"));
        a.push_back(std::to_string(s.trackerIdCount()));
      });
}

// A UTF-16 file: two different invalid UTF-8 ids become the same text.
TEST_F(PLUPropertiesCacheAttackTest, Utf16FileWithInvalidUtf8IdsMatchesWriteByWrite) {
  compare(
      [](const std::string& path) {
        runSql(path, "PRAGMA encoding='UTF-16le'; CREATE TABLE t(x);");
      },
      [](PLUAnalyticsPropertiesStore& s, PLUSqlStore&, Answers& a) {
        for (const char* t : {"a\xC0\x80", "a\xC1\x81", "a\xC0\x80", "a\xC1\x81"}) {
          a.push_back(next(s, t));
        }
        a.push_back(std::to_string(s.trackerIdCount()));
      });
}

// The table dropped and made anew on the store's own connection mid-burst.
TEST_F(PLUPropertiesCacheAttackTest, TableRebuiltOnTheConnectionMatchesWriteByWrite) {
  compare(nullptr, [](PLUAnalyticsPropertiesStore& s, PLUSqlStore& sql, Answers& a) {
    a.push_back(next(s, "UA-1"));
    a.push_back(next(s, "UA-1"));
    a.push_back(std::to_string(sql.dropTableWithName("properties")));
    a.push_back(std::to_string(s.createPropertiesTable()));
    a.push_back(next(s, "UA-1"));
    a.push_back(std::to_string(s.trackerIdCount()));
  });
}

// Two properties stores sharing one SQL store (one connection), interleaved.
TEST_F(PLUPropertiesCacheAttackTest, TwoStoresOnOneConnectionMatchWriteByWrite) {
  compare(nullptr, [this](PLUAnalyticsPropertiesStore& s, PLUSqlStore& sql, Answers& a) {
    std::shared_ptr<PLUSqlStore> shared(&sql, [](PLUSqlStore*) {});
    PLUAnalyticsPropertiesStore other(shared, clock_, worker_);
    a.push_back(next(s, "UA-1"));
    a.push_back(next(other, "UA-1"));
    a.push_back(next(s, "UA-1"));
    a.push_back(next(other, "UA-2"));
    a.push_back(std::to_string(s.trackerIdCount()));
    a.push_back(next(other, "UA-1", "c2"));
    a.push_back(next(s, "UA-2", "c2"));
    a.push_back(next(s, "UA-1", "c2"));
    a.push_back(std::to_string(other.setCheckedIAdCampaignForTrackingId("UA-1")));
    a.push_back(std::to_string(s.setCheckedIAdCampaignForTrackingId("UA-1")));
  });
}

// A transaction rolled back and a new one begun on the shared connection by another component:
// the hit number must follow what the file holds.
TEST_F(PLUPropertiesCacheAttackTest, RollbackAndNewTransactionOnTheConnectionAreSeen) {
  testing::TempDir dir;
  auto sql = PLUSqlStore::create(kFile, dir.path());
  auto store = std::make_shared<PLUAnalyticsPropertiesStore>(sql, clock_, worker_);
  worker_->postAndWait([&] {
    EXPECT_EQ(next(*store, "UA-1"), "0");
    EXPECT_EQ(next(*store, "UA-1"), "1");
    sqlite3* db = sql->database();
    ASSERT_EQ(sqlite3_exec(db, "ROLLBACK; BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(next(*store, "UA-1"), "0");  // the file has no row for it any more
  });
  worker_->postAndWait([] {});
  store.reset();
}

std::optional<std::int64_t> rawHit(sqlite3* db, const std::string& tid) {
  sqlite3_stmt* st = nullptr;
  std::optional<std::int64_t> out;
  if (sqlite3_prepare_v2(db, "SELECT hit_number FROM properties WHERE tid=?", -1, &st, nullptr) !=
      SQLITE_OK) {
    return out;
  }
  sqlite3_bind_text(st, 1, tid.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(st) == SQLITE_ROW) out = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  return out;
}

std::int64_t rawCount(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  std::int64_t out = -1;
  if (sqlite3_prepare_v2(db, "SELECT count(*) FROM properties", -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    out = sqlite3_column_int64(st, 0);
  }
  sqlite3_finalize(st);
  return out;
}

// Random bursts with a disk that fills and empties, commits, new client ids and flags: every
// number handed out must be the one the connection then holds, and every count the table's.
TEST_F(PLUPropertiesCacheAttackTest, NumbersFollowTheFileThroughFullDisksMidBurst) {
  testing::FullDiskVfs disk;
  testing::TempDir dir;
  auto sql = PLUSqlStore::create(kFile, dir.path());
  auto store = std::make_shared<PLUAnalyticsPropertiesStore>(sql, clock_, worker_);
  std::uint32_t seed = 17;
  auto rnd = [&seed](std::uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  int handed = 0, refused = 0;
  for (int burst = 0; burst < 40; ++burst) {
    worker_->postAndWait([&] {
      ASSERT_TRUE(sql->ensureOpenDatabase());
      sqlite3_exec(sql->database(), "PRAGMA cache_size=1", nullptr, nullptr, nullptr);
      for (int i = 0; i < 200; ++i) {
        const std::uint32_t op = rnd(100);
        if (op < 5) disk.setFull(!disk.isFull());
        if (op == 5) store->commitPendingWrites();
        const std::string tid = "UA-" + std::to_string(rnd(op < 50 ? 5 : 1500)) +
                                std::string(rnd(2) ? "" : std::string("\0t", 2));
        const std::string cid = rnd(60) == 0 ? "c2" : "c1";
        if (op == 6) {
          store->setCheckedIAdCampaignForTrackingId(tid);
          continue;
        }
        const auto got = store->nextHitNumberForTrackingId(tid, cid);
        sqlite3* db = sql->database();
        if (!db) continue;
        if (got) {
          ++handed;
          const auto held = rawHit(db, tid);
          ASSERT_TRUE(held) << burst << "/" << i;
          ASSERT_EQ(std::to_string(*held), *got) << burst << "/" << i;
        } else {
          ++refused;
        }
        ASSERT_EQ(store->trackerIdCount(), rawCount(db)) << burst << "/" << i;
      }
    });
    worker_->postAndWait([] {});
  }
  disk.setFull(false);
  worker_->postAndWait([] {});
  store.reset();
  sql.reset();
  EXPECT_GT(handed, 0);
  EXPECT_GT(disk.refusedWrites(), 0);
  EXPECT_GT(refused + handed, 0);
}

}  // namespace
}  // namespace loomset
