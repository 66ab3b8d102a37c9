#include "analytics/store/PLUPropertiesWriteCache.h"

#include <sqlite3.h>

#include <cstring>
#include <utility>

namespace loomset {

namespace {

bool isWriting(sqlite3* db) {
  return db && sqlite3_txn_state(db, "main") == SQLITE_TXN_WRITE;
}

}  // namespace

std::string PLUPropertiesWriteCache::storedText(const std::string& text) {
  return std::string(text.c_str(), std::strlen(text.c_str()));
}

PLUPropertiesWriteCache::PLUPropertiesWriteCache(std::function<std::uint64_t()> structureCount,
                                                 std::function<bool()> tableIsPlain)
    : structureCount_(std::move(structureCount)), tableIsPlain_(std::move(tableIsPlain)) {}

bool PLUPropertiesWriteCache::holds(sqlite3* db) {
  if (db_ && db == db_ && isWriting(db) && sqlite3_total_changes64(db) == changes_ &&
      structureCount_() == structure_) {
    return true;
  }
  forget();
  return false;
}

bool PLUPropertiesWriteCache::startIfWriting(sqlite3* db) {
  if (holds(db)) return true;
  if (!isWriting(db) || !tableIsPlain_()) return false;
  db_ = db;
  changes_ = sqlite3_total_changes64(db);
  structure_ = structureCount_();  // read after the check, which may prepare statements itself
  return true;
}

std::optional<std::optional<PLUPropertyRecord>> PLUPropertiesWriteCache::row(
    sqlite3* db, const std::string& tid) {
  if (!holds(db)) return std::nullopt;
  auto found = rows_.find(storedText(tid));
  if (found == rows_.end()) return std::nullopt;
  if (!found->second) return std::optional<PLUPropertyRecord>();
  PLUPropertyRecord record = *found->second;
  record.tid = tid;  // a SELECT answers with the id it was asked for
  return std::optional<PLUPropertyRecord>(std::move(record));
}

std::optional<std::int64_t> PLUPropertiesWriteCache::rowCount(sqlite3* db) {
  if (!holds(db)) return std::nullopt;
  return count_;
}

void PLUPropertiesWriteCache::rememberRead(sqlite3* db, const std::string& tid,
                                           const std::optional<PLUPropertyRecord>& found) {
  if (!startIfWriting(db)) return;
  rows_[storedText(tid)] = found;
}

void PLUPropertiesWriteCache::rememberCount(sqlite3* db, std::int64_t count) {
  if (!startIfWriting(db)) return;
  count_ = count;
}

void PLUPropertiesWriteCache::rememberWrite(sqlite3* db, std::int64_t changesBefore,
                                            const PLUPropertyRecord& written) {
  if (!isWriting(db)) {
    forget();
    return;
  }
  const std::string key = storedText(written.tid);
  if (db_ == db && changes_ == changesBefore && structureCount_() == structure_) {
    // Known right before this write: a new id adds a row, a replaced one keeps the count.
    auto before = rows_.find(key);
    if (before == rows_.end()) {
      count_.reset();
    } else if (!before->second && count_) {
      *count_ += 1;
    }
  } else {
    forget();
    if (!tableIsPlain_()) return;
    db_ = db;
    structure_ = structureCount_();
  }
  PLUPropertyRecord stored = written;
  stored.tid = key;
  stored.cid = storedText(written.cid);
  // SQLite keeps a whole-number REAL as an integer, so a negative zero reads back as zero.
  if (stored.lastModifiedTimeSince1970) *stored.lastModifiedTimeSince1970 += 0.0;
  rows_[key] = std::move(stored);
  changes_ = sqlite3_total_changes64(db);
}

void PLUPropertiesWriteCache::forget() {
  db_ = nullptr;
  changes_ = -1;
  count_.reset();
  rows_.clear();
}

}  // namespace loomset
