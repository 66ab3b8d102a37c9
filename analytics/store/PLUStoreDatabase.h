// One SQLite file of the hit store, behaving like an object-store context: writes go into a
// transaction that is opened on the first change and committed by `save`, so that reads on the
// same connection see unsaved changes and nothing partial reaches the file. Statements are
// prepared once and cached for the life of the connection.
//
// Failures of SQLite are thrown as `PLUStoreFailure`, carrying the shared wrapper's status (code
// and message); the hit store turns them into errors.
//
// Threads: not synchronised; the hit store uses it on its worker thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "Library/Util/sqlite/SqliteDatabase.h"
#include "Library/Util/sqlite/SqliteStatement.h"
#include "Library/Util/sqlite/SqliteStatus.h"

namespace loomset {

class FileSystem;

class PLUStoreFailure : public std::runtime_error {
 public:
  PLUStoreFailure(int code, const std::string& message)
      : std::runtime_error(message), code_(code) {}
  explicit PLUStoreFailure(const SqliteStatus& status)
      : PLUStoreFailure(status.code(), status.message()) {}
  int code() const { return code_; }

 private:
  int code_;
};

// A cached statement in use: reset and unbound again when the scope ends.
class PLUStoreStatement {
 public:
  explicit PLUStoreStatement(SqliteStatement& statement) : statement_(statement) {}
  ~PLUStoreStatement();
  PLUStoreStatement(const PLUStoreStatement&) = delete;
  PLUStoreStatement& operator=(const PLUStoreStatement&) = delete;

  void bindInt64(int index, std::int64_t value);
  void bindDouble(int index, double value);
  void bindNull(int index);
  void bindText(int index, const std::string& text);
  void bindBlob(int index, const std::string& bytes);
  // True with a row to read; false when done. Throws on failure.
  bool step();
  // Steps to the end, throwing unless the statement completes.
  void run();

  bool isNull(int column) const;
  std::int64_t int64(int column) const;
  double real(int column) const;
  std::string text(int column) const;
  std::string blob(int column) const;

 private:
  SqliteStatement& statement_;
};

class PLUStoreDatabase {
 public:
  // Describes a failed open; `detail` is SQLite's text.
  struct OpenError {
    int code = 0;
    std::string detail;
  };

  // Opens (creating when missing) and validates the file: "PRAGMA quick_check" must answer
  // "ok", then `schema` (statements separated by ";") runs and `requiredColumns` ("table.column"
  // pairs) must all exist. ":memory:" keeps the database in memory. Null with `error` on failure.
  static std::unique_ptr<PLUStoreDatabase> open(const std::string& path, const std::string& schema,
                                                const std::vector<std::string>& requiredColumns,
                                                OpenError* error);
  ~PLUStoreDatabase();
  PLUStoreDatabase(const PLUStoreDatabase&) = delete;
  PLUStoreDatabase& operator=(const PLUStoreDatabase&) = delete;

  // The cached statement for the text, ready to bind.
  PLUStoreStatement statement(const std::string& sql);
  void execute(const std::string& sql);

  // Opens the transaction of unsaved changes, unless one is open.
  void beginChanges();
  bool hasChanges() const;
  // Commits the unsaved changes; nothing to do without any.
  void save();
  // Drops the unsaved changes.
  void rollback();
  std::int64_t lastInsertRowId() const;

  const std::string& path() const { return path_; }

  // Removes the file and the journal files SQLite keeps beside it; true when none is left.
  static bool removeFiles(FileSystem& fileSystem, const std::string& path);

 private:
  PLUStoreDatabase(SqliteDatabase db, std::string path)
      : db_(std::move(db)), path_(std::move(path)) {}

  // Statements are declared after the connection so that they are finalized before it closes.
  SqliteDatabase db_;
  const std::string path_;
  std::unordered_map<std::string, SqliteStatement> statements_;
};

}  // namespace loomset
