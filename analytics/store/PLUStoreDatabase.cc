#include "analytics/store/PLUStoreDatabase.h"

#include <sqlite3.h>

#include <cstdio>
#include <utility>

#include "loomset/platform/FileSystem.h"

namespace loomset {

namespace {

[[noreturn]] void throwFailure(sqlite3* db, int code) {
  std::string message = sqlite3_errstr(code);
  if (db && sqlite3_errcode(db) != SQLITE_OK) message = sqlite3_errmsg(db);
  throw PLUStoreFailure(code, message);
}

// Runs statements separated by ";" and reports the first failure.
int executeAll(sqlite3* db, const std::string& sql, std::string* detail) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK && detail) *detail = message ? message : sqlite3_errstr(rc);
  sqlite3_free(message);
  return rc;
}

bool quickCheckPasses(sqlite3* db, PLUStoreDatabase::OpenError* error) {
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &statement, nullptr);
  bool ok = false;
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW && sqlite3_column_count(statement) == 1) {
      const auto* text = sqlite3_column_text(statement, 0);
      ok = text && std::string(reinterpret_cast<const char*>(text)) == "ok";
      if (!ok) {
        error->code = SQLITE_CORRUPT;
        error->detail = text ? reinterpret_cast<const char*>(text) : "quick check failed";
      }
    }
  }
  if (!ok && error->detail.empty()) {
    error->code = rc;
    error->detail = sqlite3_errmsg(db);
  }
  sqlite3_finalize(statement);
  return ok;
}

bool hasColumns(sqlite3* db, const std::vector<std::string>& required, std::string* missing) {
  for (const std::string& entry : required) {
    const auto dot = entry.find('.');
    const std::string table = entry.substr(0, dot);
    const std::string column = entry.substr(dot + 1);
    const std::string sql = "PRAGMA table_info('" + table + "')";
    sqlite3_stmt* statement = nullptr;
    bool found = false;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
      while (!found && sqlite3_step(statement) == SQLITE_ROW) {
        const auto* name = sqlite3_column_text(statement, 1);
        found = name && column == reinterpret_cast<const char*>(name);
      }
    }
    sqlite3_finalize(statement);
    if (!found) {
      *missing = entry;
      return false;
    }
  }
  return true;
}

}  // namespace

PLUStoreStatement::~PLUStoreStatement() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

void PLUStoreStatement::bindInt64(int index, std::int64_t value) {
  const int rc = sqlite3_bind_int64(statement_, index, value);
  if (rc != SQLITE_OK) throwFailure(db_, rc);
}

void PLUStoreStatement::bindDouble(int index, double value) {
  const int rc = sqlite3_bind_double(statement_, index, value);
  if (rc != SQLITE_OK) throwFailure(db_, rc);
}

void PLUStoreStatement::bindNull(int index) {
  const int rc = sqlite3_bind_null(statement_, index);
  if (rc != SQLITE_OK) throwFailure(db_, rc);
}

void PLUStoreStatement::bindText(int index, const std::string& text) {
  const int rc = sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                                   SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) throwFailure(db_, rc);
}

void PLUStoreStatement::bindBlob(int index, const std::string& bytes) {
  const int rc = sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()),
                                   SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) throwFailure(db_, rc);
}

bool PLUStoreStatement::step() {
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throwFailure(db_, rc);
}

void PLUStoreStatement::run() {
  while (step()) {
  }
}

bool PLUStoreStatement::isNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::int64_t PLUStoreStatement::int64(int column) const {
  return sqlite3_column_int64(statement_, column);
}

double PLUStoreStatement::real(int column) const {
  return sqlite3_column_double(statement_, column);
}

std::string PLUStoreStatement::text(int column) const {
  const auto* text = sqlite3_column_text(statement_, column);
  if (!text) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

std::string PLUStoreStatement::blob(int column) const {
  const void* bytes = sqlite3_column_blob(statement_, column);
  if (!bytes) return {};
  return std::string(static_cast<const char*>(bytes),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

std::unique_ptr<PLUStoreDatabase> PLUStoreDatabase::open(
    const std::string& path, const std::string& schema,
    const std::vector<std::string>& requiredColumns, OpenError* error) {
  OpenError local;
  if (!error) error = &local;
  sqlite3* db = nullptr;
  // One thread uses a connection at a time, so SQLite's own connection mutex is not needed.
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    error->code = rc;
    error->detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    return nullptr;
  }
  // Another process of the same application may hold the file for a moment.
  sqlite3_busy_timeout(db, 5000);
  auto failWith = [&](int code, std::string detail) -> std::unique_ptr<PLUStoreDatabase> {
    error->code = code;
    error->detail = std::move(detail);
    sqlite3_close(db);
    return nullptr;
  };
  if (!quickCheckPasses(db, error)) {
    sqlite3_close(db);
    return nullptr;
  }
  // A write-ahead log makes a commit one append without waiting for the disk; a crash of the
  // process loses nothing committed, and only a crash of the whole system can lose the last
  // commits.
  std::string detail;
  rc = executeAll(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", &detail);
  if (rc != SQLITE_OK) return failWith(rc, detail);
  rc = executeAll(db, schema, &detail);
  if (rc != SQLITE_OK) return failWith(rc, detail);
  std::string missing;
  if (!hasColumns(db, requiredColumns, &missing)) {
    return failWith(SQLITE_SCHEMA, "the store's tables lack the column " + missing);
  }
  return std::unique_ptr<PLUStoreDatabase>(new PLUStoreDatabase(db, path));
}

PLUStoreDatabase::~PLUStoreDatabase() {
  for (auto& entry : statements_) sqlite3_finalize(entry.second);
  if (hasChanges()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db_);
}

void PLUStoreDatabase::fail(int code) const {
  throwFailure(db_, code);
}

PLUStoreStatement PLUStoreDatabase::statement(const std::string& sql) {
  auto it = statements_.find(sql);
  if (it == statements_.end()) {
    sqlite3_stmt* prepared = nullptr;
    const int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &prepared, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(prepared);
      fail(rc);
    }
    it = statements_.emplace(sql, prepared).first;
  }
  return PLUStoreStatement(db_, it->second);
}

void PLUStoreDatabase::execute(const std::string& sql) {
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc);
}

// SQLite ends a transaction on its own after some failures (a full disk, an I/O error), so the
// connection's autocommit state, not a flag of ours, tells whether changes are pending.
bool PLUStoreDatabase::hasChanges() const {
  return sqlite3_get_autocommit(db_) == 0;
}

void PLUStoreDatabase::beginChanges() {
  if (!hasChanges()) statement("BEGIN").run();
}

void PLUStoreDatabase::save() {
  if (hasChanges()) statement("COMMIT").run();
}

void PLUStoreDatabase::rollback() {
  if (hasChanges()) statement("ROLLBACK").run();
}

std::int64_t PLUStoreDatabase::lastInsertRowId() const {
  return sqlite3_last_insert_rowid(db_);
}

bool PLUStoreDatabase::removeFiles(FileSystem& fileSystem, const std::string& path) {
  bool removed = true;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    removed = fileSystem.remove(path + suffix) && removed;
  }
  return removed;
}

}  // namespace loomset
