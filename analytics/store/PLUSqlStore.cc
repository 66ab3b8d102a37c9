#include "analytics/store/PLUSqlStore.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "Library/Util/platform/Mutex.h"
#include "Library/Util/platform/FileUtil.h"
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

SharedSlot& sharedSlot() {
  static NoDestructor<SharedSlot> slot;
  return *slot;
}

// File systems without inode flags answer one of these; their files are never immutable.
bool flagsUnsupported(int error) {
  return error == ENOTTY || error == EOPNOTSUPP || error == EINVAL || error == ENOSYS;
}

// Opens the file for the flag ioctls, which need no write access.
int openForFlags(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0 && error) *error = std::strerror(errno);
  return fd;
}

std::string describeErrno(int error) {
  return std::strerror(error);
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
                                                 const std::string& directory) {
  if (databaseName.empty()) {
    PLU_LOG_ERROR("Received empty database name");
    return nullptr;
  }
  if (directory.empty()) {
    PLU_LOG_ERROR("Received empty database path");
    return nullptr;
  }
  return std::shared_ptr<PLUSqlStore>(
      new PLUSqlStore(databaseName, directory + "/" + databaseName));
}

PLUSqlStore::PLUSqlStore(std::string databaseName, std::string databasePath)
    : databaseName_(std::move(databaseName)), databasePath_(std::move(databasePath)) {}

PLUSqlStore::~PLUSqlStore() {
  closeDatabase();
}

bool PLUSqlStore::ensureOpenDatabase() {
  if (database_) {
    if (FileUtil::exists(databasePath_)) return true;
    // The file went away underneath the connection: start over with a new one.
    closeDatabase();
  }
  if (openAndValidateDatabase()) return true;
  if (!closeAndDeleteDatabase()) return false;
  return openAndValidateDatabase();
}

bool PLUSqlStore::openAndValidateDatabase() {
  if (database_) closeDatabase();
  if (FileUtil::exists(databasePath_)) {
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
    FileUtil::createDirectories(databasePath_.substr(0, databasePath_.rfind('/')));
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(databasePath_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    PLU_LOG_ERROR("Failed to open database");
    sqlite3_close(db);
    return false;
  }
  database_ = db;
  sqlite3_stmt* check = nullptr;
  if (sqlite3_prepare_v2(database_, "PRAGMA quick_check", -1, &check, nullptr) != SQLITE_OK) {
    PLU_LOG_ERROR("Failed to construct 'quick check' sql statement");
    sqlite3_finalize(check);
    closeDatabase();
    return false;
  }
  bool valid = false;
  if (sqlite3_step(check) == SQLITE_ROW && sqlite3_column_count(check) == 1) {
    const auto* text = sqlite3_column_text(check, 0);
    valid = text && std::strcmp(reinterpret_cast<const char*>(text), "ok") == 0;
  }
  sqlite3_finalize(check);
  if (!valid) {
    closeDatabase();
    return false;
  }
  // Every hit updates its tracking id's record: a write-ahead log commits that with one append
  // instead of a wait for the disk. Committed records survive a crash of the process.
  sqlite3_exec(database_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
               nullptr);
  postDidOpenDatabase();
  return true;
}

void PLUSqlStore::closeDatabase() {
  finalizeAndClearStatements();
  if (!database_) return;
  if (sqlite3_close(database_) != SQLITE_OK) {
    PLU_LOG_ERROR("Failed to close database: " + errorMessage().value_or(""));
    // Statements the caller still holds keep it alive; it closes when they are finalized.
    sqlite3_close_v2(database_);
  }
  database_ = nullptr;
}

bool PLUSqlStore::closeAndDeleteDatabase() {
  closeDatabase();
  if (!FileUtil::exists(databasePath_)) return true;
  clearFileImmutable(databasePath_);
  if (!PLUStoreDatabase::removeFiles(databasePath_)) {
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
  sqlite3_stmt* statement =
      statementForQuery("SELECT name FROM sqlite_master WHERE type='table' AND name=?");
  if (!statement) {
    PLU_LOG_ERROR("Failed to construct 'table exists' sql statement");
    return false;
  }
  sqlite3_reset(statement);
  if (sqlite3_bind_text(statement, 1, name.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK) {
    PLU_LOG_ERROR("Failed to bind 'tableName' parameter");
    return false;
  }
  const bool exists = sqlite3_step(statement) == SQLITE_ROW;
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
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
  sqlite3_stmt* statement = statementForQuery("DROP TABLE " + name);
  if (!statement) {
    PLU_LOG_ERROR("Failed to construct 'drop table' sql statement");
    return false;
  }
  // SQLite refuses the drop while another cached statement is still active.
  for (auto& entry : statementCache_) sqlite3_reset(entry.second);
  const bool dropped = sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_reset(statement);
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
  sqlite3_stmt* statement = statementForQuery("SELECT count(*) from " + name + ";");
  if (!statement) {
    PLU_LOG_ERROR("Failed to construct 'count' sql statement");
    return 0;
  }
  sqlite3_reset(statement);
  std::int64_t count = 0;
  if (sqlite3_step(statement) == SQLITE_ROW) {
    count = sqlite3_column_int64(statement, 0);
  } else {
    PLU_LOG_ERROR("Failed to count rows from database: " + errorMessage().value_or(""));
  }
  sqlite3_reset(statement);
  return count;
}

sqlite3_stmt* PLUSqlStore::prepareSql(const std::string& sql) {
  if (!database_) {
    PLU_LOG_ERROR("Failed to open database");
    return nullptr;
  }
  if (sql.empty()) {
    PLU_LOG_ERROR("Received empty sql string");
    return nullptr;
  }
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(database_, sql.c_str(), static_cast<int>(sql.size()), &statement,
                         nullptr) != SQLITE_OK) {
    PLU_LOG_ERROR("Failed to prepare sql statement: " + errorMessage().value_or(""));
    sqlite3_finalize(statement);
    return nullptr;
  }
  return statement;
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
  sqlite3_stmt* statement = prepareSql(sql);
  if (!statement) {
    PLU_LOG_ERROR("Failed to construct sql statement: " + sql);
    return SQLITE_ERROR;
  }
  const int rc = sqlite3_step(statement);
  sqlite3_finalize(statement);
  return rc;
}

sqlite3_stmt* PLUSqlStore::statementForQuery(const std::string& sql) {
  const auto it = statementCache_.find(sql);
  if (it != statementCache_.end() && database_) return it->second;
  if (!ensureOpenDatabase()) {
    PLU_LOG_ERROR("Failed to open database");
    return nullptr;
  }
  sqlite3_stmt* statement = prepareSql(sql);
  if (statement) setStatement(statement, sql);
  return statement;
}

void PLUSqlStore::setStatement(sqlite3_stmt* statement, const std::string& sql) {
  const auto it = statementCache_.find(sql);
  if (it != statementCache_.end()) {
    if (it->second == statement) return;
    sqlite3_finalize(it->second);
    statementCache_.erase(it);
  }
  if (statement) statementCache_.emplace(sql, statement);
}

void PLUSqlStore::removeStatementForQuery(const std::string& sql) {
  setStatement(nullptr, sql);
}

void PLUSqlStore::finalizeAndClearStatements() {
  for (auto& entry : statementCache_) sqlite3_finalize(entry.second);
  statementCache_.clear();
}

std::optional<std::string> PLUSqlStore::errorMessage() const {
  if (!database_) return std::nullopt;
  return std::string(sqlite3_errmsg(database_));
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
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (error) *error = describeErrno(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) return false;
  const int fd = openForFlags(path, error);
  if (fd < 0) return false;
  int flags = 0;
  bool immutable = false;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
    immutable = (flags & FS_IMMUTABLE_FL) != 0;
  } else if (!flagsUnsupported(errno) && error) {
    *error = describeErrno(errno);
  }
  ::close(fd);
  return immutable;
}

bool PLUSqlStore::clearFileImmutable(const std::string& path, std::string* error) {
  const int fd = openForFlags(path, error);
  if (fd < 0) return false;
  int flags = 0;
  bool cleared = true;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
    cleared = flagsUnsupported(errno);
    if (!cleared && error) *error = describeErrno(errno);
  } else if (flags & FS_IMMUTABLE_FL) {
    flags &= ~FS_IMMUTABLE_FL;
    // Needs the right to change inode flags (CAP_LINUX_IMMUTABLE); without it this fails.
    if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) {
      cleared = false;
      if (error) *error = describeErrno(errno);
    }
  }
  ::close(fd);
  return cleared;
}

}  // namespace loomset
