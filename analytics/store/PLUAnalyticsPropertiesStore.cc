#include "analytics/store/PLUAnalyticsPropertiesStore.h"

#include <sqlite3.h>

#include <utility>

#include "Library/Util/platform/Mutex.h"
#include "analytics/PLULog.h"
#include "analytics/store/PLUPropertiesWriteCache.h"
#include "analytics/store/PLUSqlStore.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/Clock.h"
#include "loomset/platform/EventLoop.h"
#include "loomset/platform/Platform.h"

namespace loomset {

namespace {

struct Column {
  const char* name;
  const char* type;
};

const std::vector<Column>& columns() {
  static const std::vector<Column> list{
      {kPLUPropertyTrackingId, "TEXT PRIMARY KEY NOT NULL"},
      {kPLUPropertyClientId, "TEXT NOT NULL"},
      {kPLUPropertyHitNumber, "INTEGER NOT NULL"},
      {kPLUPropertyLastModifiedTimeSince1970, "REAL NOT NULL"},
      {kPLUPropertyCheckedIAdCampaign, "INTEGER NOT NULL"},
  };
  return list;
}

// Replaces the trailing ", " of a list built piece by piece.
std::string closeList(std::string text, const char* closing) {
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, ", ") == 0) text.resize(text.size() - 2);
  return text + closing;
}

std::string buildCreateTableSql() {
  std::string sql = std::string("CREATE TABLE IF NOT EXISTS ") + kPLUPropertiesTableName + " (";
  for (const Column& column : columns()) {
    sql += std::string("'") + column.name + "' " + column.type + ", ";
  }
  return closeList(sql, ");");
}

std::string buildUpsertSql() {
  std::string sql = std::string("INSERT OR REPLACE INTO ") + kPLUPropertiesTableName + " (";
  for (const Column& column : columns()) sql += std::string(column.name) + ", ";
  sql = closeList(sql, ") VALUES (");
  for (std::size_t i = 0; i < columns().size(); ++i) sql += "?, ";
  return closeList(sql, ");");
}

}  // namespace

// Lets the open-database observer reach its store only while the store exists. Recursive: the
// store reopens its database from inside the observer when its table must be rebuilt.
struct PLUAnalyticsPropertiesStore::ObserverTarget {
  RecursiveMutex mu;
  PLUAnalyticsPropertiesStore* store GUARDED_BY(mu) = nullptr;
};

std::shared_ptr<PLUAnalyticsPropertiesStore> PLUAnalyticsPropertiesStore::forPlatform(
    const std::shared_ptr<const Platform>& platform, std::shared_ptr<EventLoop> worker) {
  std::shared_ptr<PLUSqlStore> sqlStore;
  if (!platform->directories.root().empty()) {
    sqlStore = PLUSqlStore::create(kPLUSqlStoreDatabaseName,
                                   platform->directories.libraryDirectory(), platform->fileSystem);
  }
  return std::make_shared<PLUAnalyticsPropertiesStore>(std::move(sqlStore), platform->clock,
                                                       std::move(worker));
}

PLUAnalyticsPropertiesStore::PLUAnalyticsPropertiesStore(std::shared_ptr<PLUSqlStore> sqlStore,
                                                         std::shared_ptr<const Clock> clock,
                                                         std::shared_ptr<EventLoop> worker)
    : sqlStore_(std::move(sqlStore)),
      clock_(std::move(clock)),
      worker_(std::move(worker)),
      createTableSql_(buildCreateTableSql()),
      upsertSql_(buildUpsertSql()),
      selectSql_(std::string("SELECT * FROM ") + kPLUPropertiesTableName + " WHERE " +
                 kPLUPropertyTrackingId + "=?"),
      deleteSql_(std::string("DELETE FROM ") + kPLUPropertiesTableName),
      tableInfoSql_(std::string("PRAGMA table_info('") + kPLUPropertiesTableName + "');"),
      target_(std::make_shared<ObserverTarget>()),
      known_(std::make_unique<PLUPropertiesWriteCache>(
          [this] { return sqlStore_ ? sqlStore_->structureStatementCount() : 0; },
          [this] { return tableIsPlain(); })) {
  target_->store = this;
  // Only openings of this store's own database concern its table.
  openObserver_ = PLUSqlStore::addDidOpenDatabaseObserver(
      [target = target_, sql = sqlStore_.get()](PLUSqlStore& opened) {
        if (&opened != sql) return;
        RecursiveMutexLock lock(target->mu);
        if (target->store) target->store->onOpenDatabase();
      });
}

PLUAnalyticsPropertiesStore::~PLUAnalyticsPropertiesStore() {
  openObserver_.reset();
  RecursiveMutexLock lock(target_->mu);
  target_->store = nullptr;
  commitGroupedWrites();
}

void PLUAnalyticsPropertiesStore::groupWrites() {
  if (!worker_ || !worker_->isCurrent()) return;
  sqlite3* db = sqlStore_->database();
  if (!db || !sqlite3_get_autocommit(db)) return;  // a transaction is open already
  if (sqlStore_->executeSql("BEGIN") != SQLITE_DONE) return;
  worker_->post([target = target_] {
    RecursiveMutexLock lock(target->mu);
    if (target->store) target->store->commitGroupedWrites();
  });
}

void PLUAnalyticsPropertiesStore::commitPendingWrites() {
  RecursiveMutexLock lock(target_->mu);
  commitGroupedWrites();
}

void PLUAnalyticsPropertiesStore::commitGroupedWrites() {
  if (!sqlStore_) return;
  sqlite3* db = sqlStore_->database();
  if (!db || sqlite3_get_autocommit(db)) return;
  known_->forget();
  if (sqlStore_->executeSql("COMMIT") != SQLITE_DONE) {
    PLU_LOG_ERROR("Failed to insert/update hit number: " + sqlStore_->errorMessage().value_or(""));
  }
}

const std::vector<std::string>& PLUAnalyticsPropertiesStore::columnNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    for (const Column& column : columns()) list.emplace_back(column.name);
    return list;
  }();
  return names;
}

double PLUAnalyticsPropertiesStore::now() const {
  if (clock_) return clock_->nowSeconds();
  return Platform::current()->clock->nowSeconds();
}

void PLUAnalyticsPropertiesStore::onOpenDatabase() {
  known_->forget();
  if (!createOrValidatePropertiesTable()) PLU_LOG_ERROR("Failed to create table");
}

bool PLUAnalyticsPropertiesStore::createOrValidatePropertiesTable() {
  if (!sqlStore_) return false;
  if (!sqlStore_->tableExists(kPLUPropertiesTableName)) return createPropertiesTable();
  if (hasValidPropertyColumns()) return true;
  PLU_LOG_ERROR(std::string("Columns of ") + kPLUPropertiesTableName +
                " table are not valid. Table will be dropped and created new.");
  sqlStore_->dropTableWithName(kPLUPropertiesTableName);
  return createPropertiesTable();
}

bool PLUAnalyticsPropertiesStore::createPropertiesTable() {
  if (!sqlStore_) return false;
  if (sqlStore_->executeSql(createTableSql_) == SQLITE_DONE) return true;
  PLU_LOG_ERROR("Failed to create properties database");
  sqlStore_->closeDatabase();
  return false;
}

bool PLUAnalyticsPropertiesStore::hasValidPropertyColumns() {
  if (!sqlStore_) return false;
  std::vector<std::string> found;
  if (sqlite3_stmt* statement = sqlStore_->prepareSql(tableInfoSql_)) {
    while (sqlite3_step(statement) == SQLITE_ROW) {
      const auto* name = sqlite3_column_text(statement, 1);
      if (name) found.emplace_back(reinterpret_cast<const char*>(name));
    }
    sqlite3_finalize(statement);
  }
  if (found.empty()) {
    PLU_LOG_ERROR("No columns found in properties table");
    return false;
  }
  for (const std::string& column : columnNames()) {
    bool present = false;
    for (const std::string& name : found) present = present || name == column;
    if (!present) {
      PLU_LOG_ERROR("Column not found in properties table");
      return false;
    }
  }
  return true;
}

bool PLUAnalyticsPropertiesStore::tableIsPlain() {
  if (!sqlStore_ || !sqlStore_->database()) return false;
  // One text answer of a cached statement; nothing when it fails or answers NULL.
  auto textOf = [this](const std::string& sql) -> std::optional<std::string> {
    sqlite3_stmt* statement = sqlStore_->statementForQuery(sql);
    if (!statement) return std::nullopt;
    sqlite3_reset(statement);
    std::optional<std::string> text;
    if (sqlite3_step(statement) == SQLITE_ROW) {
      if (const auto* value = sqlite3_column_text(statement, 0)) {
        text = reinterpret_cast<const char*>(value);
      }
    }
    sqlite3_reset(statement);
    return text;
  };
  static const std::string kCreated = [] {
    std::string sql = buildCreateTableSql();
    sql.replace(0, std::string("CREATE TABLE IF NOT EXISTS").size(), "CREATE TABLE");
    if (!sql.empty() && sql.back() == ';') sql.pop_back();
    return sql;
  }();
  return textOf("PRAGMA encoding") == "UTF-8" &&
         textOf(std::string("SELECT sql FROM sqlite_master WHERE type='table' AND name='") +
                kPLUPropertiesTableName + "'") == kCreated &&
         textOf(std::string("SELECT count(*) FROM sqlite_master WHERE tbl_name='") +
                kPLUPropertiesTableName +
                "' AND type IN ('index', 'trigger') AND sql IS NOT NULL") == "0";
}

bool PLUAnalyticsPropertiesStore::clearPropertiesTable() {
  if (!sqlStore_ || !sqlStore_->ensureOpenDatabase()) {
    PLU_LOG_ERROR("Failed to open database");
    return false;
  }
  sqlite3_stmt* statement = sqlStore_->statementForQuery(deleteSql_);
  if (!statement) {
    PLU_LOG_ERROR("Failed to construct 'select' sql statement");
    return false;
  }
  sqlite3_reset(statement);
  const bool cleared = sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_reset(statement);
  known_->forget();
  return cleared;
}

std::int64_t PLUAnalyticsPropertiesStore::trackerIdCount() {
  if (!sqlStore_) return 0;
  if (!sqlStore_->ensureOpenDatabase()) {
    PLU_LOG_ERROR("Failed to open database");
    return 0;
  }
  return countRowsOfOpenDatabase();
}

std::int64_t PLUAnalyticsPropertiesStore::countRowsOfOpenDatabase() {
  if (auto known = known_->rowCount(sqlStore_->database())) return *known;
  return countRows();
}

std::int64_t PLUAnalyticsPropertiesStore::countRows() {
  const std::int64_t count = sqlStore_->rowCountForTableWithName(kPLUPropertiesTableName);
  // A failed count also answers 0, so only a count that found rows is kept.
  if (count > 0) known_->rememberCount(sqlStore_->database(), count);
  return count;
}

bool PLUAnalyticsPropertiesStore::isPropertiesTableFull() {
  return trackerIdCount() >= storageLimit();
}

std::optional<PLUPropertyRecord> PLUAnalyticsPropertiesStore::createPropertyRecordWithTrackingId(
    const std::string& trackingId, const std::string& clientId, std::int64_t hitNumber,
    bool checkedIAdCampaign) {
  if (trackingId.empty() || clientId.empty()) return std::nullopt;
  PLUPropertyRecord record;
  record.tid = trackingId;
  record.cid = clientId;
  record.hitNumber = hitNumber;
  record.lastModifiedTimeSince1970 = now();
  record.checkedIAdCampaign = checkedIAdCampaign;
  return record;
}

bool PLUAnalyticsPropertiesStore::bindRecord(const PLUPropertyRecord& record,
                                             sqlite3_stmt* statement) {
  auto missing = [](const char* column) {
    PLU_LOG_ERROR(std::string("Missing parameter ") + column + " for binding");
    return false;
  };
  auto bound = [](int rc, const char* column) {
    if (rc == SQLITE_OK) return true;
    PLU_LOG_ERROR(std::string("Failed to bind parameter ") + column + " to sql statement");
    return false;
  };
  if (record.tid.empty()) return missing(kPLUPropertyTrackingId);
  if (!bound(sqlite3_bind_text(statement, 1, record.tid.c_str(), -1, SQLITE_TRANSIENT),
             kPLUPropertyTrackingId)) {
    return false;
  }
  if (record.cid.empty()) return missing(kPLUPropertyClientId);
  if (!bound(sqlite3_bind_text(statement, 2, record.cid.c_str(), -1, SQLITE_TRANSIENT),
             kPLUPropertyClientId)) {
    return false;
  }
  if (!record.hitNumber) return missing(kPLUPropertyHitNumber);
  if (!bound(sqlite3_bind_int64(statement, 3, *record.hitNumber), kPLUPropertyHitNumber)) {
    return false;
  }
  if (!record.lastModifiedTimeSince1970) return missing(kPLUPropertyLastModifiedTimeSince1970);
  if (!bound(sqlite3_bind_double(statement, 4, *record.lastModifiedTimeSince1970),
             kPLUPropertyLastModifiedTimeSince1970)) {
    return false;
  }
  if (!record.checkedIAdCampaign) return missing(kPLUPropertyCheckedIAdCampaign);
  return bound(sqlite3_bind_int64(statement, 5, *record.checkedIAdCampaign ? 1 : 0),
               kPLUPropertyCheckedIAdCampaign);
}

bool PLUAnalyticsPropertiesStore::upsertPropertyRecord(PLUPropertyRecord* record) {
  if (!record) return false;
  if (!sqlStore_ || !sqlStore_->ensureOpenDatabase()) {
    PLU_LOG_ERROR("Failed to open database");
    return false;
  }
  // The database was just found open, so the count need not check that again.
  if (countRowsOfOpenDatabase() >= storageLimit()) {
    PLU_LOG_WARNING("Reached properties storage limit");
    return false;
  }
  PLUPropertyRecord copy = *record;
  copy.lastModifiedTimeSince1970 = now();
  sqlite3_stmt* statement = sqlStore_->statementForQuery(upsertSql_);
  if (!statement) {
    PLU_LOG_ERROR("Failed to construct 'insert/update' sql statement");
    return false;
  }
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  if (!bindRecord(copy, statement)) {
    sqlStore_->removeStatementForQuery(upsertSql_);
    return false;
  }
  groupWrites();
  sqlite3* db = sqlStore_->database();
  const std::int64_t changesBefore = sqlite3_total_changes64(db);
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  if (done) {
    record->lastModifiedTimeSince1970 = copy.lastModifiedTimeSince1970;
    known_->rememberWrite(db, changesBefore, copy);
  } else {
    PLU_LOG_ERROR("Failed to insert/update hit number: " + sqlStore_->errorMessage().value_or(""));
  }
  sqlite3_reset(statement);
  return done;
}

std::optional<PLUPropertyRecord> PLUAnalyticsPropertiesStore::propertyRecordForTrackingId(
    const std::string& trackingId) {
  if (trackingId.empty()) {
    PLU_LOG_ERROR("Received empty tracking id");
    return std::nullopt;
  }
  if (!sqlStore_ || !sqlStore_->ensureOpenDatabase()) {
    PLU_LOG_ERROR("Failed to open database");
    return std::nullopt;
  }
  if (auto known = known_->row(sqlStore_->database(), trackingId)) {
    if (!*known) PLU_LOG_INFO("Record for tracking id " + trackingId + " not found");
    return *known;
  }
  sqlite3_stmt* statement = sqlStore_->statementForQuery(selectSql_);
  if (!statement) {
    PLU_LOG_ERROR("Failed to construct 'select' sql statement");
    return std::nullopt;
  }
  sqlite3_reset(statement);
  if (sqlite3_bind_text(statement, 1, trackingId.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK) {
    PLU_LOG_ERROR("Failed to bind text '" + trackingId + "' to select statement");
    sqlStore_->removeStatementForQuery(selectSql_);
    return std::nullopt;
  }
  std::optional<PLUPropertyRecord> record;
  const int stepped = sqlite3_step(statement);
  if (stepped == SQLITE_ROW) {
    record.emplace();
    record->tid = trackingId;
    if (const auto* cid = sqlite3_column_text(statement, 1)) {
      record->cid = reinterpret_cast<const char*>(cid);
    }
    // A NULL in a damaged row reads as absent rather than as 0.
    if (sqlite3_column_type(statement, 2) != SQLITE_NULL) {
      record->hitNumber = sqlite3_column_int64(statement, 2);
    }
    if (sqlite3_column_type(statement, 3) != SQLITE_NULL) {
      record->lastModifiedTimeSince1970 = sqlite3_column_double(statement, 3);
    }
    if (sqlite3_column_type(statement, 4) != SQLITE_NULL) {
      record->checkedIAdCampaign = sqlite3_column_int64(statement, 4) != 0;
    }
  } else {
    PLU_LOG_INFO("Record for tracking id " + trackingId + " not found");
  }
  sqlite3_reset(statement);
  // A read that failed tells nothing about the row.
  if (stepped == SQLITE_ROW || stepped == SQLITE_DONE) {
    known_->rememberRead(sqlStore_->database(), trackingId, record);
  }
  return record;
}

std::optional<std::string> PLUAnalyticsPropertiesStore::nextHitNumberForTrackingId(
    const std::string& trackingId, const std::string& clientId) {
  if (trackingId.empty() || clientId.empty()) {
    PLU_LOG_ERROR("Received empty tracking id or client id");
    return std::nullopt;
  }
  auto startOver = [&]() -> std::optional<std::string> {
    auto fresh = createPropertyRecordWithTrackingId(trackingId, clientId, 0, false);
    if (fresh && upsertPropertyRecord(&*fresh)) return std::string("0");
    return std::nullopt;
  };
  std::optional<PLUPropertyRecord> record = propertyRecordForTrackingId(trackingId);
  if (!record) return startOver();
  if (record->cid.empty()) PLU_LOG_ERROR("Record is missing client ID");
  if (record->cid != clientId) {
    // Hit numbers belong to one client id; a new client id starts every tracking id over.
    clearPropertiesTable();
    return startOver();
  }
  if (!record->hitNumber) {
    PLU_LOG_ERROR("Record is missing hit number");
    return std::nullopt;
  }
  if (*record->hitNumber < 0) {
    PLU_LOG_ERROR("Record has negative hit number");
    return std::nullopt;
  }
  if (*record->hitNumber >= kPLUMaxValidHitNumber) return std::nullopt;
  record->hitNumber = *record->hitNumber + 1;
  // A damaged row may lack a field that the upsert needs; the stored flag is kept otherwise.
  if (!record->checkedIAdCampaign) record->checkedIAdCampaign = false;
  if (!upsertPropertyRecord(&*record)) return std::nullopt;
  return std::to_string(*record->hitNumber);
}

bool PLUAnalyticsPropertiesStore::setCheckedIAdCampaignForTrackingId(
    const std::string& trackingId) {
  std::optional<PLUPropertyRecord> record = propertyRecordForTrackingId(trackingId);
  if (!record) {
    PLU_LOG_ERROR("Attempted to set iAd flag for tracking ID with no record");
    return false;
  }
  if (record->checkedIAdCampaign.value_or(false)) return false;
  record->checkedIAdCampaign = true;
  return upsertPropertyRecord(&*record);
}

}  // namespace loomset
