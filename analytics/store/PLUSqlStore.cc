#include "analytics/store/PLUSqlStore.h"

#include <sqlite3.h>

#include <cstring>
#include <utility>
#include <vector>

#include "Library/Util/platform/Mutex.h"
#include "Library/Util/platform/NoDestructor.h"
#include "analytics/PLULog.h"
#include "analytics/store/PLUStoreDatabase.h"
#include "loomset/platform/Platform.h"

namespace loomset {

namespace {

struct ObserverRegistry {
  Mutex mu;
  std::uint64_t nextId GUARDED_BY(mu) = 1;
  std::vector<std::pair<std::uint64_t, PLUSqlStore::OpenObserver>> observers GUARDED_BY(mu);
};

ObserverRegistry& observerRegistry() {
  static NoDestructor<ObserverRegistry> registry;
  return *registry;
}

struct SharedSlot {
  Mutex mu;
  std::shared_ptr<PLUSqlStore> store GUARDED_BY(mu);
  std::string directory GUARDED_BY(mu);
};

// An authorizer that allows everything and counts the statements that begin or end a
// transaction, change the schema or set a pragma (see `structureStatementCount`).
int countStructureStatements(void* counter, int action, const char*, const char*, const char*,
                             const char*) {
  switch (action) {
    case SQLITE_DELETE:
    case SQLITE_INSERT:
    case SQLITE_READ:
    case SQLITE_SELECT:
    case SQLITE_UPDATE:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
      break;
    default:
      static_cast<std::atomic<std::uint64_t>*>(counter)->fetch_add(1);
  }
  return SQLITE_OK;
}

SharedSlot& sharedSlot() {
  static NoDestructor<SharedSlot> slot;
  return *slot;
}

}  // namespace

std::string PLUSqlStore::databaseDirectoryPath() {
  const auto platform = Platform::current();
  if (platform->directories.root().empty()) return {};
  return platform->directories.libraryDirectory();
}

std::shared_ptr<PLUSqlStore> PLUSqlStore::sharedInstance() {
  const std::string directory = databaseDirectoryPath();
  auto& slot = sharedSlot();
  MutexLock lock(slot.mu);
  if (slot.directory != directory || !slot.store) {
    slot.store = create(kPLUSqlStoreDatabaseName, directory);
    slot.directory = directory;
  }
  return slot.store;
}

std::shared_ptr<PLUSqlStore> PLUSqlStore::create(const std::string& databaseName) {
  return create(databaseName, databaseDirectoryPath());
}

std::shared_ptr<PLUSqlStore> PLUSqlStore::create(const std::string& databaseName,
                                                 const std::string& directory,
                                                 std::shared_ptr<FileSystem> fileSystem) {
  if (databaseName.empty()) {
    PLU_LOG_ERROR("Received empty database name");
    return nullptr;
  }
  if (directory.empty()) {
    PLU_LOG_ERROR("Received empty database path");
    return nullptr;
  }
  if (!fileSystem) fileSystem = Platform::current()->fileSystem;
  return std::shared_ptr<PLUSqlStore>(
      new PLUSqlStore(databaseName, directory + "/" + databaseName, std::move(fileSystem)));
}

PLUSqlStore::PLUSqlStore(std::string databaseName, std::string databasePath,
                         std::shared_ptr<FileSystem> fileSystem)
    : databaseName_(std::move(databaseName)),
      databasePath_(std::move(databasePath)),
      fileSystem_(std::move(fileSystem)) {}

PLUSqlStore::~PLUSqlStore() {
  closeDatabase();
}

bool PLUSqlStore::ensureOpenDatabase() {
  if (database_.isOpen()) {
    if (fileSystem_->exists(databasePath_)) return true;
    // The file went away underneath the connection: start over with a new one.
    closeDatabase();
  }
  bool damaged = false;
  if (openAndValidateDatabase(&damaged)) return true;
  // Busy is not damaged: a file another connection holds is kept, with everything in it.
  if (!damaged) return false;
  if (!closeAndDeleteDatabase()) return false;
  return openAndValidateDatabase();
}

bool PLUSqlStore::openAndValidateDatabase(bool* damaged) {
  bool ignored = false;
  if (!damaged) damaged = &ignored;
  *damaged = false;
  if (database_.isOpen()) closeDatabase();
  if (fileSystem_->exists(databasePath_)) {
    std::string error;
    const bool immutable = isFileImmutable(databasePath_, &error);
    if (!error.empty()) {
      PLU_LOG_ERROR("Failed to read database file attributes: " + error);
      return false;
    }
    if (immutable && !clearFileImmutable(databasePath_, &error)) {
      PLU_LOG_ERROR("Failed to unlock database file: " + error);
      return false;
    }
  } else {
    fileSystem_->createDirectories(databasePath_.substr(0, databasePath_.rfind('/')));
  }
  if (!database_.open(databasePath_).ok()) {
    PLU_LOG_ERROR("Failed to open database");
    return false;
  }
  // Another connection may hold the file for a moment: wait for it as the hit store does.
  database_.setBusyTimeout(5000);
  sqlite3_set_authorizer(database_.handle(), countStructureStatements, &structureStatements_);
  const auto isDamage = [](int code) { return code == SQLITE_CORRUPT || code == SQLITE_NOTADB; };
  SqliteStatus status;
  SqliteStatement check = database_.prepare("PRAGMA quick_check", &status);
  if (!status.ok()) {
    PLU_LOG_ERROR("Failed to construct 'quick check' sql statement");
    *damaged = isDamage(status.code());
    closeDatabase();
    return false;
  }
  bool valid = false;
  const SqliteStatus stepped = check.step();
  if (stepped.isRow() && check.columnCount() == 1) {
    valid = !check.isNull(0) && check.columnText(0) == "ok";
    *damaged = !valid;
  } else {
    *damaged = isDamage(stepped.code());
  }
  check.finalize();
  if (!valid) {
    closeDatabase();
    return false;
  }
  // Every hit updates its tracking id's record: a write-ahead log commits that with one append
  // instead of a wait for the disk. Committed records survive a crash of the process.
  database_.execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
  postDidOpenDatabase();
  return true;
}

void PLUSqlStore::closeDatabase() {
  finalizeAndClearStatements();
  // Statements the caller still holds keep a failed close alive until they are finalized.
  const SqliteStatus status = database_.close();
  if (!status.ok()) PLU_LOG_ERROR("Failed to close database: " + status.message());
}

bool PLUSqlStore::closeAndDeleteDatabase() {
  closeDatabase();
  if (!fileSystem_->exists(databasePath_)) return true;
  clearFileImmutable(databasePath_);
  if (!PLUStoreDatabase::removeFiles(*fileSystem_, databasePath_)) {
    PLU_LOG_ERROR("Failed to delete database: " + databasePath_);
    return false;
  }
  return true;
}

bool PLUSqlStore::tableExists(const std::string& name) {
  if (!ensureOpenDatabase()) {
    PLU_LOG_ERROR("Failed to open database");
    return false;
  }
  SqliteStatement* statement =
      cachedStatement("SELECT name FROM sqlite_master WHERE type='table' AND name=?");
  if (!statement) {
    PLU_LOG_ERROR("Failed to construct 'table exists' sql statement");
    return false;
  }
  statement->reset();
  if (!statement->bindText(1, name).ok()) {
    PLU_LOG_ERROR("Failed to bind 'tableName' parameter");
    return false;
  }
  const bool exists = statement->step().isRow();
  statement->reset();
  statement->clearBindings();
  return exists;
}

bool PLUSqlStore::dropTableWithName(const std::string& name) {
  if (name.empty()) {
    PLU_LOG_ERROR("Received empty table name");
    return false;
  }
  if (!ensureOpenDatabase()) {
    PLU_LOG_ERROR("Failed to open database");
    return false;
  }
  if (!tableExists(name)) return true;
  SqliteStatement* statement = cachedStatement("DROP TABLE " + name);
  if (!statement) {
    PLU_LOG_ERROR("Failed to construct 'drop table' sql statement");
    return false;
  }
  // SQLite refuses the drop while another cached statement is still active.
  for (auto& entry : statementCache_) entry.second.reset();
  const bool dropped = statement->step().isDone();
  statement->reset();
  return dropped;
}

std::int64_t PLUSqlStore::rowCountForTableWithName(const std::string& name) {
  if (name.empty()) {
    PLU_LOG_ERROR("Received empty table name");
    return 0;
  }
  if (!ensureOpenDatabase()) {
    PLU_LOG_ERROR("Failed to open database");
    return 0;
  }
  if (!tableExists(name)) {
    PLU_LOG_ERROR("Table does not exist: " + name);
    return 0;
  }
  SqliteStatement* statement = cachedStatement("SELECT count(*) from " + name + ";");
  if (!statement) {
    PLU_LOG_ERROR("Failed to construct 'count' sql statement");
    return 0;
  }
  statement->reset();
  std::int64_t count = 0;
  if (statement->step().isRow()) {
    count = statement->columnInt64(0);
  } else {
    PLU_LOG_ERROR("Failed to count rows from database: " + errorMessage().value_or(""));
  }
  statement->reset();
  return count;
}

sqlite3_stmt* PLUSqlStore::prepareSql(const std::string& sql) {
  if (!database_.isOpen()) {
    PLU_LOG_ERROR("Failed to open database");
    return nullptr;
  }
  if (sql.empty()) {
    PLU_LOG_ERROR("Received empty sql string");
    return nullptr;
  }
  SqliteStatus status;
  SqliteStatement statement = database_.prepare(sql, &status);
  if (!status.ok()) {
    PLU_LOG_ERROR("Failed to prepare sql statement: " + status.message());
    return nullptr;
  }
  return statement.release();
}

int PLUSqlStore::executeSql(const std::string& sql) {
  if (sql.empty()) {
    PLU_LOG_ERROR("Received empty sql string");
    return SQLITE_ERROR;
  }
  if (!ensureOpenDatabase()) {
    PLU_LOG_ERROR("Failed to open database");
    return SQLITE_ERROR;
  }
  SqliteStatement statement(prepareSql(sql));
  if (!statement) {
    PLU_LOG_ERROR("Failed to construct sql statement: " + sql);
    return SQLITE_ERROR;
  }
  return statement.step().code();
}

SqliteStatement* PLUSqlStore::cachedStatement(const std::string& sql) {
  const auto it = statementCache_.find(sql);
  if (it != statementCache_.end() && database_.isOpen()) return &it->second;
  if (!ensureOpenDatabase()) {
    PLU_LOG_ERROR("Failed to open database");
    return nullptr;
  }
  sqlite3_stmt* statement = prepareSql(sql);
  if (!statement) return nullptr;
  setStatement(statement, sql);
  return &statementCache_.at(sql);
}

sqlite3_stmt* PLUSqlStore::statementForQuery(const std::string& sql) {
  SqliteStatement* statement = cachedStatement(sql);
  return statement ? statement->handle() : nullptr;
}

void PLUSqlStore::setStatement(sqlite3_stmt* statement, const std::string& sql) {
  const auto it = statementCache_.find(sql);
  if (it != statementCache_.end()) {
    if (it->second.handle() == statement) return;
    statementCache_.erase(it);  // finalizes the one cached before
  }
  if (statement) statementCache_.emplace(sql, SqliteStatement(statement));
}

void PLUSqlStore::removeStatementForQuery(const std::string& sql) {
  setStatement(nullptr, sql);
}

void PLUSqlStore::finalizeAndClearStatements() {
  statementCache_.clear();
}

std::optional<std::string> PLUSqlStore::errorMessage() const {
  if (!database_.isOpen()) return std::nullopt;
  return database_.errorMessage();
}

std::shared_ptr<void> PLUSqlStore::addDidOpenDatabaseObserver(OpenObserver observer) {
  auto& registry = observerRegistry();
  std::uint64_t id = 0;
  {
    MutexLock lock(registry.mu);
    id = registry.nextId++;
    registry.observers.emplace_back(id, std::move(observer));
  }
  // The token's deleter unregisters; it holds no pointer of its own.
  return std::shared_ptr<void>(nullptr, [id](void*) {
    auto& r = observerRegistry();
    MutexLock lock(r.mu);
    for (auto it = r.observers.begin(); it != r.observers.end(); ++it) {
      if (it->first == id) {
        r.observers.erase(it);
        break;
      }
    }
  });
}

void PLUSqlStore::postDidOpenDatabase() {
  std::vector<OpenObserver> observers;
  {
    auto& registry = observerRegistry();
    MutexLock lock(registry.mu);
    for (const auto& entry : registry.observers) observers.push_back(entry.second);
  }
  for (const auto& observer : observers) observer(*this);
}

bool PLUSqlStore::isFileImmutable(const std::string& path, std::string* error) {
  return fileSystem_->isImmutable(path, error);
}

bool PLUSqlStore::clearFileImmutable(const std::string& path, std::string* error) {
  return fileSystem_->clearImmutable(path, error);
}

}  // namespace loomset
