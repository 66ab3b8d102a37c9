// One SQLite connection, closed when the object goes away. Opening, preparing and running SQL
// answer SQLite's outcome as a status; nothing throws.
//
// Statements prepared here must be finalized (destroyed) before `close` can succeed; a connection
// destroyed while statements live is released once the last of them is finalized.
//
// Threads: callers serialise all use of a connection and its statements (one thread at a time);
// `OpenOptions::noMutex` then spares SQLite's own connection mutex.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Library/Util/sqlite/SqliteStatement.h"
#include "Library/Util/sqlite/SqliteStatus.h"

struct sqlite3;

namespace loomset {

class SqliteDatabase {
 public:
  struct OpenOptions {
    bool create = true;    // create the file when it is missing
    bool noMutex = false;  // the caller guarantees one thread at a time
  };

  SqliteDatabase() = default;
  ~SqliteDatabase();
  SqliteDatabase(SqliteDatabase&& other) noexcept : db_(other.db_) { other.db_ = nullptr; }
  SqliteDatabase& operator=(SqliteDatabase&& other) noexcept;
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  // Opens the file for reading and writing, closing any connection held before. On failure
  // nothing stays open. ":memory:" opens a database in memory.
  SqliteStatus open(const std::string& path, OpenOptions options);
  SqliteStatus open(const std::string& path) { return open(path, OpenOptions()); }
  // Closes the connection. When statements are still alive the close fails with their status and
  // the connection is released as soon as they are finalized; either way this object is closed.
  SqliteStatus close();
  bool isOpen() const { return db_ != nullptr; }
  sqlite3* handle() const { return db_; }

  // A new statement, empty on failure (with the failure in `status`). `persistent` hints that the
  // statement will be kept and run many times.
  SqliteStatement prepare(std::string_view sql, SqliteStatus* status = nullptr,
                          bool persistent = false);
  // Runs one or more statements separated by ";".
  SqliteStatus execute(const std::string& sql);

  // The connection's last result and message; SQLITE_MISUSE without a connection.
  SqliteStatus lastStatus() const;
  std::string errorMessage() const;
  // True while a transaction is open (SQLite may end one on its own after some failures).
  bool inTransaction() const;
  std::int64_t lastInsertRowId() const;
  // Rows changed by the last INSERT, UPDATE or DELETE that completed.
  std::int64_t changes() const;
  void setBusyTimeout(int milliseconds);

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace loomset
