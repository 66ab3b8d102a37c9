#include "analytics/store/PLUStoreDatabase.h"

#include <sqlite3.h>

#include <utility>

#include "loomset/platform/FileSystem.h"

namespace loomset {

namespace {

void throwIfFailed(const SqliteStatus& status) {
  if (!status.ok()) throw PLUStoreFailure(status);
}

bool quickCheckPasses(SqliteDatabase& db, PLUStoreDatabase::OpenError* error) {
  SqliteStatus status;
  SqliteStatement statement = db.prepare("PRAGMA quick_check", &status);
  bool ok = false;
  if (statement) {
    status = statement.step();
    if (status.isRow() && statement.columnCount() == 1) {
      const bool hasText = !statement.isNull(0);
      const std::string text = statement.columnText(0);
      ok = hasText && text == "ok";
      if (!ok) {
        error->code = SQLITE_CORRUPT;
        error->detail = hasText ? text : "quick check failed";
      }
    }
  }
  if (!ok && error->detail.empty()) {
    error->code = status.code();
    error->detail = db.errorMessage();
  }
  return ok;
}

bool hasColumns(SqliteDatabase& db, const std::vector<std::string>& required,
                std::string* missing) {
  for (const std::string& entry : required) {
    const auto dot = entry.find('.');
    const std::string table = entry.substr(0, dot);
    const std::string column = entry.substr(dot + 1);
    SqliteStatement statement = db.prepare("PRAGMA table_info('" + table + "')");
    bool found = false;
    while (statement && !found && statement.step().isRow()) {
      found = !statement.isNull(1) && statement.columnText(1) == column;
    }
    if (!found) {
      *missing = entry;
      return false;
    }
  }
  return true;
}

}  // namespace

PLUStoreStatement::~PLUStoreStatement() {
  statement_.reset();
  statement_.clearBindings();
}

void PLUStoreStatement::bindInt64(int index, std::int64_t value) {
  throwIfFailed(statement_.bindInt64(index, value));
}

void PLUStoreStatement::bindDouble(int index, double value) {
  throwIfFailed(statement_.bindDouble(index, value));
}

void PLUStoreStatement::bindNull(int index) {
  throwIfFailed(statement_.bindNull(index));
}

void PLUStoreStatement::bindText(int index, const std::string& text) {
  throwIfFailed(statement_.bindText(index, text));
}

void PLUStoreStatement::bindBlob(int index, const std::string& bytes) {
  throwIfFailed(statement_.bindBlob(index, bytes));
}

bool PLUStoreStatement::step() {
  const SqliteStatus status = statement_.step();
  throwIfFailed(status);
  return status.isRow();
}

void PLUStoreStatement::run() {
  while (step()) {
  }
}

bool PLUStoreStatement::isNull(int column) const {
  return statement_.isNull(column);
}

std::int64_t PLUStoreStatement::int64(int column) const {
  return statement_.columnInt64(column);
}

double PLUStoreStatement::real(int column) const {
  return statement_.columnDouble(column);
}

std::string PLUStoreStatement::text(int column) const {
  return statement_.columnText(column);
}

std::string PLUStoreStatement::blob(int column) const {
  return statement_.columnBlob(column);
}

std::unique_ptr<PLUStoreDatabase> PLUStoreDatabase::open(
    const std::string& path, const std::string& schema,
    const std::vector<std::string>& requiredColumns, OpenError* error) {
  OpenError local;
  if (!error) error = &local;
  SqliteDatabase db;
  // One thread uses a connection at a time, so SQLite's own connection mutex is not needed.
  SqliteStatus status = db.open(path, {/*create=*/true, /*noMutex=*/true});
  if (!status.ok()) {
    error->code = status.code();
    error->detail = status.message();
    return nullptr;
  }
  // Another process of the same application may hold the file for a moment.
  db.setBusyTimeout(5000);
  auto failWith = [&](const SqliteStatus& failure) -> std::unique_ptr<PLUStoreDatabase> {
    error->code = failure.code();
    error->detail = failure.message();
    return nullptr;
  };
  if (!quickCheckPasses(db, error)) return nullptr;
  // A write-ahead log makes a commit one append without waiting for the disk; a crash of the
  // process loses nothing committed, and only a crash of the whole system can lose the last
  // commits.
  status = db.execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
  if (!status.ok()) return failWith(status);
  status = db.execute(schema);
  if (!status.ok()) return failWith(status);
  std::string missing;
  if (!hasColumns(db, requiredColumns, &missing)) {
    return failWith(SqliteStatus(SQLITE_SCHEMA, "the store's tables lack the column " + missing));
  }
  return std::unique_ptr<PLUStoreDatabase>(new PLUStoreDatabase(std::move(db), path));
}

PLUStoreDatabase::~PLUStoreDatabase() {
  statements_.clear();
  if (hasChanges()) db_.execute("ROLLBACK");
}

PLUStoreStatement PLUStoreDatabase::statement(const std::string& sql) {
  auto it = statements_.find(sql);
  if (it == statements_.end()) {
    SqliteStatus status;
    SqliteStatement prepared = db_.prepare(sql, &status, /*persistent=*/true);
    throwIfFailed(status);
    it = statements_.emplace(sql, std::move(prepared)).first;
  }
  return PLUStoreStatement(it->second);
}

void PLUStoreDatabase::execute(const std::string& sql) {
  throwIfFailed(db_.execute(sql));
}

// SQLite ends a transaction on its own after some failures (a full disk, an I/O error), so the
// connection's autocommit state, not a flag of ours, tells whether changes are pending.
bool PLUStoreDatabase::hasChanges() const {
  return db_.inTransaction();
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
  return db_.lastInsertRowId();
}

bool PLUStoreDatabase::removeFiles(FileSystem& fileSystem, const std::string& path) {
  bool removed = true;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    removed = fileSystem.remove(path + suffix) && removed;
  }
  return removed;
}

}  // namespace loomset
