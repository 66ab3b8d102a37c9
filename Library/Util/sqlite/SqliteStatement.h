// One prepared SQLite statement, finalized when the object goes away. Binding, stepping and
// column access answer SQLite's outcome as a status; nothing throws.
//
// Parameters count from 1, columns from 0, as in SQLite. Texts and blobs are copied when bound.
// A column's text or blob stays readable until the next step, reset or finalize.
//
// Threads: a statement belongs to its connection; use both from one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Library/Util/sqlite/SqliteStatus.h"

struct sqlite3_stmt;

namespace loomset {

class SqliteStatement {
 public:
  SqliteStatement() = default;
  // Takes ownership of a prepared statement; null makes an empty statement.
  explicit SqliteStatement(sqlite3_stmt* statement) : statement_(statement) {}
  ~SqliteStatement() { finalize(); }
  SqliteStatement(SqliteStatement&& other) noexcept : statement_(other.release()) {}
  SqliteStatement& operator=(SqliteStatement&& other) noexcept;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  explicit operator bool() const { return statement_ != nullptr; }
  sqlite3_stmt* handle() const { return statement_; }
  // Hands the statement to the caller, who finalizes it; this object becomes empty.
  sqlite3_stmt* release();
  void finalize();

  SqliteStatus bindText(int index, std::string_view text);
  // An empty blob is stored as an empty blob, never as NULL.
  SqliteStatus bindBlob(int index, std::string_view bytes);
  SqliteStatus bindInt64(int index, std::int64_t value);
  SqliteStatus bindDouble(int index, double value);
  SqliteStatus bindNull(int index);
  void clearBindings();

  // SQLITE_ROW with a row to read, SQLITE_DONE when finished, or the failure.
  SqliteStatus step();
  // Steps until done; the first failure ends it.
  SqliteStatus run();
  // Makes the statement ready to run again; bindings stay.
  void reset();

  int columnCount() const;
  // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB or SQLITE_NULL.
  int columnType(int column) const;
  bool isNull(int column) const;
  std::int64_t columnInt64(int column) const;
  double columnDouble(int column) const;
  // The column as text: numbers in SQLite's text form, blobs byte for byte, NULL as "".
  std::string columnText(int column) const;
  // The column's bytes; NULL as "".
  std::string columnBlob(int column) const;

 private:
  SqliteStatus outcome(int code) const;

  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace loomset
