#include "Library/Util/sqlite/SqliteStatement.h"

#include <sqlite3.h>

#include <utility>

namespace loomset {

namespace {

// SQLite takes a null pointer as NULL even with a length of 0; an empty text or blob is a value.
const char* nonNull(std::string_view bytes) {
  return bytes.data() ? bytes.data() : "";
}

std::string columnBytes(sqlite3_stmt* statement, int column, const void* bytes) {
  if (!bytes) return {};
  return std::string(static_cast<const char*>(bytes),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

}  // namespace

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
  if (this != &other) {
    finalize();
    statement_ = other.release();
  }
  return *this;
}

sqlite3_stmt* SqliteStatement::release() {
  return std::exchange(statement_, nullptr);
}

void SqliteStatement::finalize() {
  sqlite3_finalize(std::exchange(statement_, nullptr));
}

SqliteStatus SqliteStatement::outcome(int code) const {
  if (code == SQLITE_OK || code == SQLITE_ROW || code == SQLITE_DONE) return SqliteStatus(code, {});
  sqlite3* db = statement_ ? sqlite3_db_handle(statement_) : nullptr;
  // The connection's message says more than the code's generic text, when it is about this.
  if (db && sqlite3_errcode(db) != SQLITE_OK) return SqliteStatus(code, sqlite3_errmsg(db));
  return SqliteStatus::fromCode(code);
}

SqliteStatus SqliteStatement::bindText(int index, std::string_view text) {
  return outcome(sqlite3_bind_text(statement_, index, nonNull(text), static_cast<int>(text.size()),
                                   SQLITE_TRANSIENT));
}

SqliteStatus SqliteStatement::bindBlob(int index, std::string_view bytes) {
  return outcome(sqlite3_bind_blob(statement_, index, nonNull(bytes),
                                   static_cast<int>(bytes.size()), SQLITE_TRANSIENT));
}

SqliteStatus SqliteStatement::bindInt64(int index, std::int64_t value) {
  return outcome(sqlite3_bind_int64(statement_, index, value));
}

SqliteStatus SqliteStatement::bindDouble(int index, double value) {
  return outcome(sqlite3_bind_double(statement_, index, value));
}

SqliteStatus SqliteStatement::bindNull(int index) {
  return outcome(sqlite3_bind_null(statement_, index));
}

void SqliteStatement::clearBindings() {
  if (statement_) sqlite3_clear_bindings(statement_);
}

SqliteStatus SqliteStatement::step() {
  if (!statement_) return SqliteStatus::fromCode(SQLITE_MISUSE);
  return outcome(sqlite3_step(statement_));
}

SqliteStatus SqliteStatement::run() {
  SqliteStatus status = step();
  while (status.isRow()) status = step();
  return status;
}

void SqliteStatement::reset() {
  // The result repeats the last step's failure, which its caller has already seen.
  if (statement_) sqlite3_reset(statement_);
}

int SqliteStatement::columnCount() const {
  return sqlite3_column_count(statement_);
}

int SqliteStatement::columnType(int column) const {
  return sqlite3_column_type(statement_, column);
}

bool SqliteStatement::isNull(int column) const {
  return columnType(column) == SQLITE_NULL;
}

std::int64_t SqliteStatement::columnInt64(int column) const {
  return sqlite3_column_int64(statement_, column);
}

double SqliteStatement::columnDouble(int column) const {
  return sqlite3_column_double(statement_, column);
}

std::string SqliteStatement::columnText(int column) const {
  return columnBytes(statement_, column, sqlite3_column_text(statement_, column));
}

std::string SqliteStatement::columnBlob(int column) const {
  return columnBytes(statement_, column, sqlite3_column_blob(statement_, column));
}

}  // namespace loomset
