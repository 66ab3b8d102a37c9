// A small SQLite wrapper for the analytics properties store: one database file in the data
// root's Library directory, opened lazily, validated with "PRAGMA quick_check", replaced by an
// empty file when it is damaged, with a cache of prepared statements keyed by their SQL text.
//
// Every successful opening and validation posts the "PLUSqlStoreDidOpenDatabaseNotification" to
// the observers registered with `addDidOpenDatabaseObserver` (the properties store creates or
// validates its table there).
//
// The file checks, the directory creation and the removal of damaged files go through the file
// system the store was made with; SQLite opens the database file itself.
//
// Threads: a store takes no lock; its callers serialise access (the properties store uses it on
// the analytics worker thread only). `sharedInstance` and the observer registry are safe from any
// thread. Statements returned by `statementForQuery` belong to the cache; those returned by
// `prepareSql` belong to the caller, who finalizes them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Library/Util/sqlite/SqliteDatabase.h"
#include "Library/Util/sqlite/SqliteStatement.h"

struct sqlite3;
struct sqlite3_stmt;

namespace loomset {

class FileSystem;

inline constexpr const char* kPLUSqlStoreDatabaseName = "kestrel-aux-v4.sql";

class PLUSqlStore {
 public:
  using OpenObserver = std::function<void(PLUSqlStore& store)>;

  // The one store on "kestrel-aux-v4.sql" in the Library directory of the platform bundle in
  // force (made again when a different bundle, with another data root, is installed). Null when
  // there is no data directory.
  static std::shared_ptr<PLUSqlStore> sharedInstance();
  // The Library directory of the platform bundle in force; empty without a data directory.
  static std::string databaseDirectoryPath();

  // Null, with an error logged, for an empty name or an empty resulting path. Nothing is opened.
  // Without a file system, the one of the platform bundle in force.
  static std::shared_ptr<PLUSqlStore> create(const std::string& databaseName);
  static std::shared_ptr<PLUSqlStore> create(const std::string& databaseName,
                                             const std::string& directory,
                                             std::shared_ptr<FileSystem> fileSystem = nullptr);
  ~PLUSqlStore();
  PLUSqlStore(const PLUSqlStore&) = delete;
  PLUSqlStore& operator=(const PLUSqlStore&) = delete;

  const std::string& databaseName() const { return databaseName_; }
  const std::string& databasePath() const { return databasePath_; }
  // The open connection, or null.
  sqlite3* database() const { return database_.handle(); }
  // How many statements that begin or end a transaction, change the schema or set a pragma have
  // been prepared on this store's connections so far. Callers that remember what they read inside
  // one transaction compare it to learn that the transaction or the tables may have changed.
  std::uint64_t structureStatementCount() const { return structureStatements_.load(); }

  // True with an open, valid connection afterwards. A damaged file (its quick check finds faults,
  // or it is not a database) is deleted and created anew once; a file that is only busy or cannot
  // be opened now is kept for a later attempt.
  bool ensureOpenDatabase();
  // `damaged`, when given, tells whether a failure found the file damaged.
  bool openAndValidateDatabase(bool* damaged = nullptr);
  void closeDatabase();
  bool closeAndDeleteDatabase();

  bool tableExists(const std::string& name);
  // A missing table counts as dropped.
  bool dropTableWithName(const std::string& name);
  // 0 when the table is missing or cannot be counted.
  std::int64_t rowCountForTableWithName(const std::string& name);

  // A new statement the caller finalizes; null on failure. Needs an open connection.
  sqlite3_stmt* prepareSql(const std::string& sql);
  // Opens the database if needed, prepares, steps once and finalizes; the step's result code
  // (SQLITE_ERROR when the statement cannot be run at all).
  int executeSql(const std::string& sql);
  // The cached statement for exactly this text, prepared and cached when new; null on failure.
  sqlite3_stmt* statementForQuery(const std::string& sql);
  // Caches `statement` (owned by the cache from now on) for the text; null removes the entry.
  void setStatement(sqlite3_stmt* statement, const std::string& sql);
  // Finalizes and forgets the cached statement.
  void removeStatementForQuery(const std::string& sql);
  void finalizeAndClearStatements();
  // The connection's last SQLite error text; nothing without a connection.
  std::optional<std::string> errorMessage() const;

  // Registers an observer of successful openings of any store. The observer stays registered
  // while the returned token lives; it is called on the thread that opened the database, with
  // the store that did.
  static std::shared_ptr<void> addDidOpenDatabaseObserver(OpenObserver observer);

  // Whether the file carries the immutable flag, and clearing it, through the store's file system.
  // On file systems without such a flag (or where it cannot be read), a file is never immutable
  // and clearing succeeds.
  bool isFileImmutable(const std::string& path, std::string* error = nullptr);
  bool clearFileImmutable(const std::string& path, std::string* error = nullptr);

 private:
  PLUSqlStore(std::string databaseName, std::string databasePath,
              std::shared_ptr<FileSystem> fileSystem);
  void postDidOpenDatabase();
  // The cached statement for the text, prepared and cached when new; null on failure.
  SqliteStatement* cachedStatement(const std::string& sql);

  const std::string databaseName_;
  const std::string databasePath_;
  const std::shared_ptr<FileSystem> fileSystem_;
  SqliteDatabase database_;
  std::atomic<std::uint64_t> structureStatements_{0};
  // Declared after the connection: finalized before it closes.
  std::map<std::string, SqliteStatement> statementCache_;
};

}  // namespace loomset
