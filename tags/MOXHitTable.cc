#include "tags/MOXHitTable.h"

#include <sqlite3.h>

#include <string>
#include <utility>

#include "loomset/platform/Platform.h"

namespace loomset {
namespace {

constexpr char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS MOXHit ("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, dispatchURL TEXT, timestamp REAL, dispatchTime REAL, "
    "retryCount INTEGER NOT NULL DEFAULT 0, lastDispatchTime REAL);";
constexpr char kCreateIndexes[] =
    "CREATE INDEX IF NOT EXISTS MOXHit_dispatchTime ON MOXHit (dispatchTime);"
    "CREATE INDEX IF NOT EXISTS MOXHit_retryCount ON MOXHit (retryCount);"
    "CREATE INDEX IF NOT EXISTS MOXHit_timestamp ON MOXHit (timestamp);";

bool damaged(const SqliteStatus& status) {
  const int primary = status.code() & 0xff;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool hasColumn(SqliteDatabase& db, const char* column, SqliteStatus* status) {
  SqliteStatement info = db.prepare("PRAGMA table_info(\"MOXHit\")", status);
  if (!info) return false;
  for (SqliteStatus step = info.step(); step.isRow(); step = info.step()) {
    if (info.columnText(1) == column) return true;
  }
  return false;
}

// Brings the file to the current schema; the failure when it cannot.
SqliteStatus prepareSchema(SqliteDatabase& db) {
  SqliteStatus status = db.execute("PRAGMA journal_mode=WAL");
  if (!status.ok()) return status;
  status = db.execute(kCreateTable);
  if (!status.ok()) return status;
  // A table without the columns every hit needs cannot take one: the file counts as damaged.
  for (const char* column : {"id", "dispatchURL", "timestamp", "dispatchTime", "retryCount"}) {
    if (!hasColumn(db, column, &status)) {
      if (!status.ok()) return status;
      return SqliteStatus(SQLITE_CORRUPT, std::string("the hit table has no column ") + column);
    }
  }
  status = db.execute(kCreateIndexes);
  if (!status.ok()) return status;
  // A table of the previous schema has every column but the latest failure time.
  if (!hasColumn(db, kMOXLastDispatchTimeField, &status)) {
    if (!status.ok()) return status;
    status = db.execute("ALTER TABLE MOXHit ADD COLUMN lastDispatchTime REAL");
    if (!status.ok()) return status;
  }
  status =
      db.execute("CREATE INDEX IF NOT EXISTS MOXHit_lastDispatchTime ON MOXHit (lastDispatchTime)");
  if (!status.ok()) return status;
  SqliteStatement check = db.prepare("SELECT count(*) FROM MOXHit", &status);
  if (!check) return status;
  const SqliteStatus step = check.step();
  return step.isRow() ? SqliteStatus() : step;
}

std::optional<double> optionalDouble(const SqliteStatement& row, int column) {
  if (row.isNull(column)) return std::nullopt;
  return row.columnDouble(column);
}

}  // namespace

std::optional<MOXHitTable> MOXHitTable::open(const std::string& path) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    SqliteDatabase db;
    SqliteStatus status = db.open(path);
    if (status.ok()) {
      db.setBusyTimeout(1000);
      status = prepareSchema(db);
      if (status.ok()) return MOXHitTable(std::move(db));
    }
    db.close();
    if (!damaged(status) || attempt > 0) return std::nullopt;
    // Nothing can be read from a damaged file: start again with an empty one.
    const auto& files = Platform::current()->fileSystem;
    files->remove(path);
    files->remove(path + "-wal");
    files->remove(path + "-shm");
    files->remove(path + "-journal");
  }
  return std::nullopt;
}

template <typename Work>
bool MOXHitTable::underSavepoint(Work work) {
  if (!db_.execute("SAVEPOINT hit_operation").ok()) return false;
  if (work()) return db_.execute("RELEASE hit_operation").ok();
  db_.execute("ROLLBACK TO hit_operation");
  db_.execute("RELEASE hit_operation");
  return false;
}

bool MOXHitTable::insert(const std::string& url, double timestamp) {
  const bool inserted = underSavepoint([&] {
    SqliteStatement insert =
        db_.prepare("INSERT INTO MOXHit (dispatchURL, timestamp) VALUES (?, ?)");
    if (!insert || !insert.bindText(1, url).ok() || !insert.bindDouble(2, timestamp).ok() ||
        !insert.run().ok()) {
      return false;
    }
    if (db_.inTransaction()) uncommitted_.push_back({db_.lastInsertRowId(), url, timestamp});
    return true;
  });
  // Written at the next commit that can.
  if (!inserted) lost_.push_back({0, url, timestamp});
  return inserted;
}

std::vector<MOXHit> MOXHitTable::fetch(std::size_t limit, std::optional<double> notAttemptedAfter) {
  std::string sql =
      "SELECT id, dispatchURL, timestamp, dispatchTime, retryCount, lastDispatchTime FROM MOXHit";
  if (notAttemptedAfter) sql += " WHERE lastDispatchTime IS NULL OR lastDispatchTime <= ?";
  sql += " ORDER BY timestamp, id";
  if (limit > 0) sql += " LIMIT " + std::to_string(limit);
  std::vector<MOXHit> hits;
  SqliteStatement select = db_.prepare(sql);
  if (!select) return hits;
  if (notAttemptedAfter) select.bindDouble(1, *notAttemptedAfter);
  for (SqliteStatus step = select.step(); step.isRow(); step = select.step()) {
    MOXHit hit;
    hit.rowId = select.columnInt64(0);
    if (!select.isNull(1)) hit.dispatchURL = select.columnText(1);
    hit.timestamp = optionalDouble(select, 2);
    hit.dispatchTime = optionalDouble(select, 3);
    hit.retryCount = static_cast<std::int16_t>(select.columnInt64(4));
    hit.lastDispatchTime = optionalDouble(select, 5);
    hits.push_back(std::move(hit));
  }
  return hits;
}

bool MOXHitTable::remove(const std::vector<std::int64_t>& rowIds) {
  const bool removed = underSavepoint([&] {
    SqliteStatement remove = db_.prepare("DELETE FROM MOXHit WHERE id = ?");
    if (!remove) return false;
    for (const std::int64_t id : rowIds) {
      remove.reset();
      if (!remove.bindInt64(1, id).ok() || !remove.run().ok()) return false;
    }
    return true;
  });
  if (removed) {
    for (const std::int64_t id : rowIds) {
      for (auto it = uncommitted_.begin(); it != uncommitted_.end(); ++it) {
        if (it->rowId == id) {
          uncommitted_.erase(it);
          break;
        }
      }
    }
  }
  return removed;
}

bool MOXHitTable::markFailed(const std::vector<std::int64_t>& rowIds, double now) {
  return underSavepoint([&] {
    SqliteStatement update = db_.prepare(
        "UPDATE MOXHit SET dispatchTime = coalesce(dispatchTime, ?1), lastDispatchTime = ?1 "
        "WHERE id = ?2");
    if (!update) return false;
    for (const std::int64_t id : rowIds) {
      update.reset();
      if (!update.bindDouble(1, now).ok() || !update.bindInt64(2, id).ok() || !update.run().ok()) {
        return false;
      }
    }
    return true;
  });
}

bool MOXHitTable::deleteExcess(std::optional<double> oldestKept, std::size_t maxCount) {
  return underSavepoint([&] {
    if (oldestKept) {
      SqliteStatement old = db_.prepare("DELETE FROM MOXHit WHERE timestamp <= ?");
      if (!old || !old.bindDouble(1, *oldestKept).ok() || !old.run().ok()) return false;
    }
    if (maxCount > 0) {
      // Hits without a creation time sort first, as they would by time, and go first.
      SqliteStatement excess = db_.prepare(
          "DELETE FROM MOXHit WHERE id IN (SELECT id FROM MOXHit ORDER BY timestamp, id "
          "LIMIT max(0, (SELECT count(*) FROM MOXHit) - ?))");
      if (!excess || !excess.bindInt64(1, static_cast<std::int64_t>(maxCount)).ok() ||
          !excess.run().ok()) {
        return false;
      }
    }
    return true;
  });
}

std::optional<std::int64_t> MOXHitTable::count() {
  SqliteStatement count = db_.prepare("SELECT count(*) FROM MOXHit");
  if (!count || !count.step().isRow()) return std::nullopt;
  return count.columnInt64(0);
}

bool MOXHitTable::begin() {
  if (db_.inTransaction()) return true;
  return db_.execute("BEGIN IMMEDIATE").ok();
}

bool MOXHitTable::commit() {
  if (!db_.inTransaction()) {
    if (lost_.empty()) return true;
    if (!begin()) return false;
  }
  // Hits that could not be written before go in now, in their order.
  std::vector<Pending> lost;
  lost.swap(lost_);
  for (const Pending& hit : lost) insert(hit.url, hit.timestamp);
  if (db_.execute("COMMIT").ok()) {
    uncommitted_.clear();
    return lost_.empty();
  }
  if (db_.inTransaction()) return false;  // still open: the next commit tries again
  // SQLite rolled the transaction back: its hits wait for the next commit.
  lost_.insert(lost_.end(), uncommitted_.begin(), uncommitted_.end());
  uncommitted_.clear();
  return false;
}

}  // namespace loomset
