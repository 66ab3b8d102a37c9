#include "Library/Util/sqlite/SqliteDatabase.h"

#include <sqlite3.h>

#include <utility>

namespace loomset {

SqliteDatabase::~SqliteDatabase() {
  // Statements still alive keep the connection until they are finalized.
  sqlite3_close_v2(db_);
}

SqliteDatabase& SqliteDatabase::operator=(SqliteDatabase&& other) noexcept {
  if (this != &other) {
    sqlite3_close_v2(db_);
    db_ = std::exchange(other.db_, nullptr);
  }
  return *this;
}

SqliteStatus SqliteDatabase::open(const std::string& path, OpenOptions options) {
  close();
  int flags = SQLITE_OPEN_READWRITE;
  if (options.create) flags |= SQLITE_OPEN_CREATE;
  if (options.noMutex) flags |= SQLITE_OPEN_NOMUTEX;
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    SqliteStatus status(rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close(db);
    return status;
  }
  db_ = db;
  return {};
}

SqliteStatus SqliteDatabase::close() {
  if (!db_) return {};
  sqlite3* db = std::exchange(db_, nullptr);
  const int rc = sqlite3_close(db);
  if (rc == SQLITE_OK) return {};
  SqliteStatus status(rc, sqlite3_errmsg(db));
  sqlite3_close_v2(db);
  return status;
}

SqliteStatement SqliteDatabase::prepare(std::string_view sql, SqliteStatus* status,
                                        bool persistent) {
  SqliteStatus local;
  SqliteStatus& result = status ? *status : local;
  if (!db_) {
    result = SqliteStatus::fromCode(SQLITE_MISUSE);
    return {};
  }
  sqlite3_stmt* statement = nullptr;
  const int rc =
      sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                         persistent ? SQLITE_PREPARE_PERSISTENT : 0, &statement, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(statement);
    result = SqliteStatus(rc, sqlite3_errmsg(db_));
    return {};
  }
  result = SqliteStatus();
  return SqliteStatement(statement);
}

SqliteStatus SqliteDatabase::execute(const std::string& sql) {
  if (!db_) return SqliteStatus::fromCode(SQLITE_MISUSE);
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  SqliteStatus status =
      rc == SQLITE_OK ? SqliteStatus() : SqliteStatus(rc, message ? message : sqlite3_errstr(rc));
  sqlite3_free(message);
  return status;
}

SqliteStatus SqliteDatabase::lastStatus() const {
  if (!db_) return SqliteStatus::fromCode(SQLITE_MISUSE);
  return SqliteStatus(sqlite3_errcode(db_), sqlite3_errmsg(db_));
}

std::string SqliteDatabase::errorMessage() const {
  return db_ ? sqlite3_errmsg(db_) : std::string();
}

bool SqliteDatabase::inTransaction() const {
  return db_ && sqlite3_get_autocommit(db_) == 0;
}

std::int64_t SqliteDatabase::lastInsertRowId() const {
  return db_ ? sqlite3_last_insert_rowid(db_) : 0;
}

std::int64_t SqliteDatabase::changes() const {
  return db_ ? sqlite3_changes64(db_) : 0;
}

void SqliteDatabase::setBusyTimeout(int milliseconds) {
  if (db_) sqlite3_busy_timeout(db_, milliseconds);
}

}  // namespace loomset
