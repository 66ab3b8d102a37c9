#include "datalayer/DataLayerTable.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "loomset/MOXLog.h"

namespace loomset::datalayer {

namespace {

const std::string kTableExistsSql =
    "SELECT name FROM sqlite_master WHERE type='table' AND name='datalayer'";
const std::string kCreateSql =
    "CREATE TABLE IF NOT EXISTS datalayer ( 'ID' INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
    "'key' STRING NOT NULL, 'value' BLOB NOT NULL, 'expires' INTEGER NOT NULL);";
const std::string kCountSql = "SELECT COUNT(*) FROM datalayer";
const std::string kExpireSql = "DELETE from datalayer WHERE expires <= ?;";
const std::string kInsertSql = "INSERT INTO datalayer (key, value, expires) VALUES (?, ?, ?)";
const std::string kOldestIdsSql = "SELECT ID FROM datalayer ORDER BY ID ASC Limit ?";
const std::string kLoadAllSql = "SELECT key, value FROM datalayer ORDER BY ID";
const std::string kEarliestExpirySql = "SELECT MIN(expires) FROM datalayer";
// Keys are compared as bytes, whatever they were stored as: a LIKE pattern would let "_" and "%"
// in a prefix match other characters and would ignore letter case, deleting other keys' rows.
// Parameters: the prefix, the byte length of the prefix and a dot, the prefix and a dot.
const std::string kDeletePrefixSql =
    "DELETE from datalayer WHERE CAST(key AS BLOB) = ? or substr(CAST(key AS BLOB), 1, ?) = ?;";

// IDs deleted by one statement; SQLite limits the parameters of a statement.
constexpr std::size_t kIdsPerDelete = 500;

std::string deleteIdsSql(std::size_t count) {
  std::string list = "?";
  for (std::size_t i = 1; i < count; ++i) list += ", ?";
  return "DELETE from datalayer WHERE ID IN (" + list + ");";
}

}  // namespace

DataLayerTable::DataLayerTable(std::string directory, std::string databaseName,
                               std::shared_ptr<FileSystem> fileSystem)
    : directory_(std::move(directory)),
      fileSystem_(std::move(fileSystem)),
      path_(directory_.empty() ? std::string() : directory_ + "/" + databaseName),
      transaction_(db_, [this](const RecordedWrite& write, const SqliteStatus& status) {
        logWriteFailure(write.kind, status);
      }) {}

DataLayerTable::~DataLayerTable() {
  close();
}

const std::string& DataLayerTable::createTableSql() {
  return kCreateSql;
}

SqliteStatement DataLayerTable::prepare(const std::string& sql, const char* description) {
  SqliteStatus status;
  SqliteStatement statement = db_.prepare(sql, &status, /*persistent=*/true);
  if (!statement) {
    MOXLog::error("Error: Failed to prepare " + std::string(description) +
                  " statement: " + std::to_string(status.code()));
  }
  return statement;
}

bool DataLayerTable::tableExists() {
  SqliteStatement statement = prepare(kTableExistsSql, "table exists");
  if (!statement) {
    MOXLog::error("Error: Failed to prepare table exists stmt: " + db_.errorMessage());
    return false;
  }
  return statement.step().isRow();
}

bool DataLayerTable::open() {
  if (db_.isOpen()) return true;
  if (directory_.empty()) return false;
  // The data root is created on demand; a directory that cannot be made shows as a failed open.
  fileSystem_->createDirectories(directory_);
  if (!db_.open(path_, {/*create=*/true, /*noMutex=*/true}).ok()) {
    MOXLog::error("Unable to open WEN database");
    return false;
  }
  // Another connection to the file (a second manager of this process, or another process) may
  // hold the write lock for a moment: wait for it rather than failing the operation.
  db_.setBusyTimeout(5000);
  if (!tableExists()) {
    SqliteStatement create = prepare(kCreateSql, "create maps table");
    if (!create || !create.step().isDone()) {
      MOXLog::error("Error initializing WEN database: " + db_.errorMessage());
      create.finalize();
      db_.close();
      return false;
    }
  }
  countStatement_ = prepare(kCountSql, "query number of stored entries");
  expireStatement_ = prepare(kExpireSql, "delete old Entries");
  insertStatement_ = prepare(kInsertSql, "insert an entry");
  oldestIdsStatement_ = prepare(kOldestIdsSql, "fetch entryIds");
  loadAllStatement_ = prepare(kLoadAllSql, "query data");
  if (!countStatement_ || !expireStatement_ || !insertStatement_ || !oldestIdsStatement_ ||
      !loadAllStatement_) {
    MOXLog::error("Error initializing WEN database: " + db_.errorMessage());
    close();
    return false;
  }
  return true;
}

void DataLayerTable::close() {
  if (!db_.isOpen()) return;
  transaction_.commit();
  countStatement_.finalize();
  expireStatement_.finalize();
  insertStatement_.finalize();
  oldestIdsStatement_.finalize();
  loadAllStatement_.finalize();
  deleteIdsStatements_.clear();
  const SqliteStatus status = db_.close();
  if (!status.ok()) MOXLog::error("Failed to close database: " + status.message());
}

void DataLayerTable::logWriteFailure(int kind, const SqliteStatus& status) {
  switch (kind) {
    case kExpire:
      MOXLog::error("Error: Failed to delete older entries: " + status.message());
      break;
    case kInsert:
      MOXLog::error("Failed to insert data: " + status.message());
      break;
    case kDeleteIds:
    case kDeletePrefix:
      if (status.code() == SQLITE_ERROR) {
        MOXLog::error("Error: Failed to delete entries from database: " + status.message());
      }
      break;
  }
}

DataLayerTable::Facts* DataLayerTable::facts() {
  const std::uint64_t transaction = transaction_.serial();
  if (transaction == 0) return nullptr;
  if (facts_.transaction != transaction) facts_ = Facts{transaction, std::nullopt, std::nullopt};
  return &facts_;
}

std::int64_t DataLayerTable::queryEarliestExpiry() {
  SqliteStatement statement = db_.prepare(kEarliestExpirySql);
  if (statement && statement.step().isRow() && !statement.isNull(0)) {
    return statement.columnInt64(0);
  }
  return std::numeric_limits<std::int64_t>::max();  // no rows: none can expire
}

void DataLayerTable::deleteExpired(std::int64_t nowMillis) {
  if (Facts* known = facts();
      known && known->earliestExpiry && nowMillis < *known->earliestExpiry) {
    return;  // no row can have expired since the last look
  }
  const SqliteStatus status =
      transaction_.write(kExpire, expireStatement_, kExpireSql, {WriteParam(nowMillis)});
  if (!status.isDone()) {
    logWriteFailure(kExpire, status);
    return;
  }
  if (Facts* known = facts()) {
    if (known->rowCount) *known->rowCount -= db_.changes();
    known->earliestExpiry = queryEarliestExpiry();
  }
}

std::int64_t DataLayerTable::numStoredEntries() {
  if (Facts* known = facts(); known && known->rowCount) return *known->rowCount;
  const SqliteStatus status = countStatement_.step();
  std::int64_t count = 0;
  if (status.code() == SQLITE_ERROR) {
    MOXLog::error("Error: Failed to retrieve number of entries from database: " + status.message());
  } else {
    count = countStatement_.columnInt64(0);
    if (Facts* known = facts(); known && status.isRow()) known->rowCount = count;
  }
  countStatement_.reset();
  return count;
}

void DataLayerTable::makeRoom(std::uint64_t maxItems, std::size_t incoming) {
  constexpr auto kInt64Max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  const auto limit = static_cast<std::int64_t>(std::min(maxItems, kInt64Max));
  const std::int64_t wanted = numStoredEntries() + static_cast<std::int64_t>(incoming);
  const std::int64_t excess = wanted > limit ? wanted - limit : 0;
  if (excess < 1) return;
  const std::vector<std::int64_t> ids = oldestIds(excess);
  MOXLog::info("DataLayer store full, deleting " + std::to_string(ids.size()) +
               " entries to make room.");
  deleteIds(ids);
}

std::vector<std::int64_t> DataLayerTable::oldestIds(std::int64_t count) {
  std::vector<std::int64_t> ids;
  if (count <= 0) {
    MOXLog::warning("Invalid maxEntries specified. Skipping.");
    return ids;
  }
  oldestIdsStatement_.bindInt64(1, count);
  while (oldestIdsStatement_.step().isRow()) ids.push_back(oldestIdsStatement_.columnInt64(0));
  oldestIdsStatement_.reset();
  return ids;
}

void DataLayerTable::deleteIds(const std::vector<std::int64_t>& ids) {
  for (std::size_t start = 0; start < ids.size(); start += kIdsPerDelete) {
    const std::size_t count = std::min(kIdsPerDelete, ids.size() - start);
    const std::string sql = deleteIdsSql(count);
    SqliteStatement& statement = deleteIdsStatements_[count];
    if (!statement) statement = prepare(sql, "delete old Entries");
    if (!statement) return;
    // IDs are bound whole: an ID past 32 bits must not wrap into another row's.
    std::vector<WriteParam> params(ids.begin() + start, ids.begin() + start + count);
    const SqliteStatus status = transaction_.write(kDeleteIds, statement, sql, std::move(params));
    if (!status.ok()) {
      logWriteFailure(kDeleteIds, status);
    } else if (Facts* known = facts(); known && known->rowCount) {
      *known->rowCount -= db_.changes();
    }
  }
}

void DataLayerTable::insert(const std::vector<MOXKeyAndSerialized>& entries, std::int64_t expires) {
  for (const MOXKeyAndSerialized& entry : entries) {
    const SqliteStatus status =
        transaction_.write(kInsert, insertStatement_, kInsertSql,
                           {WriteParam(entry.key), WriteParam(entry.serialized), expires});
    if (!status.isDone()) {
      logWriteFailure(kInsert, status);
    } else if (Facts* known = facts()) {
      if (known->rowCount) ++*known->rowCount;
      if (known->earliestExpiry) known->earliestExpiry = std::min(*known->earliestExpiry, expires);
    }
  }
}

std::vector<MOXKeyAndSerialized> DataLayerTable::loadAll() {
  std::vector<MOXKeyAndSerialized> rows;
  while (loadAllStatement_.step().isRow()) {
    // Text, numbers and blobs alike come back as their bytes.
    rows.push_back({loadAllStatement_.columnText(0), loadAllStatement_.columnBlob(1)});
  }
  loadAllStatement_.reset();
  return rows;
}

void DataLayerTable::clearKeysWithPrefix(const std::string& prefix) {
  SqliteStatement statement = prepare(kDeletePrefixSql, "delete entries with key prefix");
  if (!statement) return;
  const std::string withDot = prefix + ".";
  const SqliteStatus status = transaction_.write(
      kDeletePrefix, statement, kDeletePrefixSql,
      {WriteParam(prefix), static_cast<std::int64_t>(withDot.size()), WriteParam(withDot)});
  if (!status.ok()) {
    logWriteFailure(kDeletePrefix, status);
  } else if (Facts* known = facts(); known && known->rowCount) {
    *known->rowCount -= db_.changes();
  }
}

}  // namespace loomset::datalayer
