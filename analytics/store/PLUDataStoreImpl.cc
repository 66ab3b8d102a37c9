#include "analytics/store/PLUDataStoreImpl.h"

#include <sqlite3.h>

#include <algorithm>
#include <exception>

#include "analytics/PLULog.h"
#include "analytics/store/PLUStoredHitCodec.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/Platform.h"

namespace loomset {

namespace {

// Identities come from AUTOINCREMENT so that a deleted hit's identity is never handed to a new
// one while a dispatcher may still hold it.
constexpr const char* kCurrentSchema =
    "CREATE TABLE IF NOT EXISTS PLUHit (id INTEGER PRIMARY KEY AUTOINCREMENT, timestamp REAL, "
    "parameters BLOB);"
    "CREATE INDEX IF NOT EXISTS PLUHit_timestamp ON PLUHit (timestamp);";

constexpr const char* kLegacySchema =
    "CREATE TABLE IF NOT EXISTS PLUProperty (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, "
    "string TEXT, number INTEGER, pluVersion TEXT);"
    "CREATE TABLE IF NOT EXISTS PLUHit (id INTEGER PRIMARY KEY AUTOINCREMENT, timestamp REAL, "
    "parametersData BLOB, dispatchUrl TEXT, pluVersion TEXT);"
    "CREATE INDEX IF NOT EXISTS PLUHit_timestamp ON PLUHit (timestamp);";

const std::vector<std::string>& currentColumns() {
  static const std::vector<std::string> columns{"PLUHit.id", "PLUHit.timestamp",
                                                "PLUHit.parameters"};
  return columns;
}

const std::vector<std::string>& legacyColumns() {
  static const std::vector<std::string> columns{
      "PLUProperty.name", "PLUProperty.string",    "PLUProperty.number", "PLUHit.id",
      "PLUHit.timestamp", "PLUHit.parametersData", "PLUHit.dispatchUrl", "PLUHit.pluVersion"};
  return columns;
}

std::string describeOpenError(const PLUStoreDatabase::OpenError& error) {
  return std::string("Error Domain=") + kNSSQLiteErrorDomain +
         " Code=" + std::to_string(error.code) + " \"" + error.detail + "\"";
}

// Only a file that SQLite finds damaged, that is no database, or that lacks the store's tables is
// replaced. A full disk, an I/O error, a refused open or a lock held by another process say
// nothing about the file, and deleting it would lose every hit and the client id it holds.
bool mayBeDamaged(const PLUStoreDatabase::OpenError& error) {
  const int primary = error.code & 0xFF;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_SCHEMA;
}

void logDatastoreError(const std::exception& e) {
  PLU_LOG_ERROR(std::string("Datastore error: ") + e.what());
}

}  // namespace

PLUDataStore::Impl::Impl(std::shared_ptr<const Platform> platform)
    : platform_(std::move(platform)) {}

double PLUDataStore::Impl::now() const {
  return platform_->clock->nowSeconds();
}

std::unique_ptr<PLUStoreDatabase> PLUDataStore::Impl::openStoreFile(
    const char* fileName, const std::string& schema, const std::vector<std::string>& columns) {
  std::string path = ":memory:";
  std::string url = path;
  if (!platform_->directories.root().empty()) {
    platform_->fileSystem->createDirectories(platform_->directories.libraryDirectory());
    path = databaseFullPath(*platform_, fileName);
    url = databaseFullURL(*platform_, fileName);
  }
  PLUStoreDatabase::OpenError error;
  auto db = PLUStoreDatabase::open(path, schema, columns, &error);
  if (db) return db;
  if (mayBeDamaged(error)) {
    PLUStoreDatabase::removeFiles(*platform_->fileSystem, path);
    PLU_LOG_WARNING("Corrupted database with URL " + url + ": " + describeOpenError(error));
    error = {};
    db = PLUStoreDatabase::open(path, schema, columns, &error);
    if (db) return db;
  }
  PLU_LOG_ERROR("Error creating database with URL " + url + ": " + describeOpenError(error));
  return nullptr;
}

bool PLUDataStore::Impl::setUpCoreData() {
  if (setUpAttempted_) return setUp_;
  setUpAttempted_ = true;
  if (platform_->directories.root().empty()) {
    PLU_LOG_WARNING("No data directory configured; hits are kept in memory only.");
  }
  legacy_ = openStoreFile(kOldDatastoreFilename, kLegacySchema, legacyColumns());
  current_ = openStoreFile(kNewDatastoreFilename, kCurrentSchema, currentColumns());
  if (legacy_) {
    try {
      if (countHits(*legacy_) > 0) {
        drainingLegacy_ = true;
        dropLegacyHitsOlderThan(now() - kLegacyHitMaxAgeSeconds);
      }
    } catch (const std::exception& e) {
      logDatastoreError(e);
    }
  }
  loadProperties();
  setUp_ = legacy_ && current_;
  if (!setUp_) PLU_LOG_ERROR("Can not setup Core Data stack");
  return setUp_;
}

PLUStoreDatabase* PLUDataStore::Impl::currentContext() const {
  if (drainingLegacy_ && legacy_) return legacy_.get();
  return current_.get();
}

void PLUDataStore::Impl::close() {
  saveLogged();
  legacy_.reset();
  current_.reset();
  setUpAttempted_ = true;
  setUp_ = false;
}

void PLUDataStore::Impl::dropLegacyHitsOlderThan(double cutoffSeconds) {
  legacy_->beginChanges();
  auto statement = legacy_->statement("DELETE FROM PLUHit WHERE timestamp <= ?");
  statement.bindDouble(1, cutoffSeconds);
  statement.run();
  legacy_->save();
}

std::optional<std::string> PLUDataStore::Impl::readTextProperty(const char* name) {
  auto statement = legacy_->statement("SELECT string FROM PLUProperty WHERE name = ? LIMIT 1");
  statement.bindText(1, name);
  if (!statement.step() || statement.isNull(0)) return std::nullopt;
  return statement.text(0);
}

std::optional<std::int64_t> PLUDataStore::Impl::readNumberProperty(const char* name) {
  auto statement = legacy_->statement("SELECT number FROM PLUProperty WHERE name = ? LIMIT 1");
  statement.bindText(1, name);
  if (!statement.step() || statement.isNull(0)) return std::nullopt;
  return statement.int64(0);
}

void PLUDataStore::Impl::loadProperties() {
  std::optional<std::string> storedClientId;
  std::optional<std::string> storedHash;
  std::optional<std::int64_t> storedCount;
  std::optional<std::int64_t> storedTime;
  if (legacy_) {
    try {
      storedClientId = readTextProperty(PLUDataStoreProperty::kClientId);
      storedHash = readTextProperty(PLUDataStoreProperty::kHashedIdfa);
      storedCount = readNumberProperty(PLUDataStoreProperty::kChangeCount);
      storedTime = readNumberProperty(PLUDataStoreProperty::kChangeTime);
    } catch (const std::exception& e) {
      logDatastoreError(e);
    }
  }
  bool generate = false;
  {
    MutexLock lock(mu);
    if (!(setBeforeLoad & kClientIdSet)) {
      if (storedClientId && !storedClientId->empty()) {
        clientId = *storedClientId;
      } else {
        generate = true;
      }
    }
    if (!(setBeforeLoad & kHashedIdfaSet)) hashedIdfa = storedHash;
    if (!(setBeforeLoad & kChangeCountSet)) idfaChangeCount = storedCount.value_or(0);
    if (!(setBeforeLoad & kChangeTimeSet)) {
      lastChangeTimeStamp = static_cast<double>(storedTime.value_or(0));
    }
  }
  if (generate) {
    const std::string generated = plu_generateClientId(*platform_->random);
    cacheClientId(generated);
    writePropertyLogged(PLUDataStoreProperty::kClientId, std::optional<std::string>(generated));
  }
  clientIdCached.store(true);
}

void PLUDataStore::Impl::cacheClientId(const std::string& id) {
  {
    MutexLock lock(mu);
    clientId = id;
    setBeforeLoad |= kClientIdSet;
  }
  clientIdCached.store(true);
}

void PLUDataStore::Impl::writeProperty(const char* name, const PropertyValue& value) {
  if (!legacy_) throw PLUStoreFailure(SQLITE_CANTOPEN, "the properties file is not open");
  legacy_->beginChanges();
  std::optional<std::int64_t> row;
  {
    auto find = legacy_->statement("SELECT id FROM PLUProperty WHERE name = ? LIMIT 1");
    find.bindText(1, name);
    if (find.step()) row = find.int64(0);
  }
  const bool isText = std::holds_alternative<std::optional<std::string>>(value);
  if (!row) {
    auto insert = legacy_->statement("INSERT INTO PLUProperty (name, pluVersion) VALUES (?, ?)");
    insert.bindText(1, name);
    insert.bindText(2, kPLUVersion);
    insert.run();
    row = legacy_->lastInsertRowId();
  }
  auto update = legacy_->statement(isText ? "UPDATE PLUProperty SET string = ? WHERE id = ?"
                                          : "UPDATE PLUProperty SET number = ? WHERE id = ?");
  if (isText) {
    const auto& text = std::get<std::optional<std::string>>(value);
    if (text) {
      update.bindText(1, *text);
    } else {
      update.bindNull(1);
    }
  } else {
    update.bindInt64(1, std::get<std::int64_t>(value));
  }
  update.bindInt64(2, *row);
  update.run();
  legacy_->save();
}

void PLUDataStore::Impl::writePropertyLogged(const char* name, const PropertyValue& value) {
  setUpCoreData();
  if (!legacy_) return;  // the set-up failure was logged
  try {
    writeProperty(name, value);
  } catch (const std::exception& e) {
    logDatastoreError(e);
  }
}

void PLUDataStore::Impl::addHit(const PLUStoredHit& hit) {
  // New hits always go to the current file, also while legacy hits are drained.
  if (!current_) throw PLUStoreFailure(SQLITE_CANTOPEN, "the hit file is not open");
  current_->beginChanges();
  auto insert = current_->statement("INSERT INTO PLUHit (timestamp, parameters) VALUES (?, ?)");
  insert.bindDouble(1, hit.timestamp.value_or(now()));
  insert.bindBlob(2, plu_encodeStoredParameters(hit.parameters));
  insert.run();
}

std::vector<PLUStoredHit> PLUDataStore::Impl::fetchHits(std::uint32_t limit) {
  PLUStoreDatabase* context = currentContext();
  if (!context) return {};
  return context == legacy_.get() ? fetchLegacyHits(limit) : fetchCurrentHits(limit);
}

std::vector<PLUStoredHit> PLUDataStore::Impl::fetchCurrentHits(std::uint32_t limit) {
  std::vector<PLUStoredHit> hits;
  std::vector<PLUHitObjectId> unreadable;
  {
    auto select = current_->statement(
        "SELECT id, timestamp, parameters FROM PLUHit ORDER BY timestamp, id LIMIT ?");
    select.bindInt64(1, limit == 0 ? -1 : static_cast<std::int64_t>(limit));
    while (select.step()) {
      PLUStoredHit hit;
      hit.objectID = PLUHitObjectId{false, select.int64(0)};
      if (!select.isNull(1)) hit.timestamp = select.real(1);
      if (!select.isNull(2)) {
        auto parameters = plu_decodeStoredParameters(select.blob(2));
        if (!parameters) {
          unreadable.push_back(hit.objectID);
          continue;
        }
        hit.parameters = std::move(*parameters);
      }
      hits.push_back(std::move(hit));
    }
  }
  if (!unreadable.empty()) {
    // Kept, such a row would come back first on every fetch and block all later hits.
    PLU_LOG_ERROR("Deleting " + std::to_string(unreadable.size()) +
                  " stored hit(s) whose parameters cannot be read.");
    deleteHits(unreadable);
  }
  return hits;
}

std::vector<PLUStoredHit> PLUDataStore::Impl::fetchLegacyHits(std::uint32_t limit) {
  std::vector<PLUStoredHit> hits;
  std::vector<PLUHitObjectId> unreadable;
  {
    auto select = legacy_->statement(
        "SELECT id, timestamp, parametersData, dispatchUrl, pluVersion FROM PLUHit "
        "ORDER BY timestamp, id LIMIT ?");
    select.bindInt64(1, limit == 0 ? -1 : static_cast<std::int64_t>(limit));
    while (select.step()) {
      PLUStoredHit hit;
      hit.objectID = PLUHitObjectId{true, select.int64(0)};
      if (!select.isNull(1)) hit.timestamp = select.real(1);
      std::string reason;
      auto parameters = plu_decodeLegacyParametersData(select.blob(2), &reason);
      if (!parameters) {
        PLU_LOG_ERROR("Deleting a legacy hit whose parameters cannot be read: " + reason);
        unreadable.push_back(hit.objectID);
        continue;
      }
      // Hits stored for the plain-HTTP endpoint go out over plain HTTP again.
      if (select.text(3).rfind("http:", 0) == 0) (*parameters)[kPLUUseSecure] = "0";
      if (!select.isNull(4)) (*parameters)[kPLUVersionField] = select.text(4);
      hit.parameters = std::move(*parameters);
      hits.push_back(std::move(hit));
    }
  }
  if (!unreadable.empty()) deleteHits(unreadable);
  return hits;
}

void PLUDataStore::Impl::deleteHits(const std::vector<PLUHitObjectId>& ids) {
  for (const PLUHitObjectId& id : ids) {
    PLUStoreDatabase* db = id.legacy ? legacy_.get() : current_.get();
    if (!db) continue;
    db->beginChanges();
    auto remove = db->statement("DELETE FROM PLUHit WHERE id = ?");
    remove.bindInt64(1, id.row);
    remove.run();
  }
}

void PLUDataStore::Impl::deleteAllHits() {
  for (PLUStoreDatabase* db : {legacy_.get(), current_.get()}) {
    if (!db) continue;
    db->beginChanges();
    db->statement("DELETE FROM PLUHit").run();
  }
}

std::int64_t PLUDataStore::Impl::countHits(PLUStoreDatabase& db) {
  auto count = db.statement("SELECT count(*) FROM PLUHit");
  return count.step() ? count.int64(0) : 0;
}

std::int64_t PLUDataStore::Impl::hitCount() {
  std::int64_t count = current_ ? countHits(*current_) : 0;
  if (drainingLegacy_ && legacy_) count += countHits(*legacy_);
  return count;
}

void PLUDataStore::Impl::deleteOldestHits(PLUStoreDatabase& db, std::int64_t count) {
  db.beginChanges();
  auto remove = db.statement(
      "DELETE FROM PLUHit WHERE id IN (SELECT id FROM PLUHit ORDER BY timestamp, id LIMIT ?)");
  remove.bindInt64(1, count);
  remove.run();
}

void PLUDataStore::Impl::deleteExcessHits() {
  const std::uint32_t max = maxHitCount.load();
  if (max == 0) return;
  std::int64_t excess = hitCount() - static_cast<std::int64_t>(max);
  if (excess <= 0) return;
  PLU_LOG_VERBOSE("Deleting excess hits.");
  if (drainingLegacy_ && legacy_) {
    // The legacy hits are the oldest; when they are fewer than the excess, the rest comes out of
    // the current file, so the limit holds while the drain goes on too.
    const std::int64_t fromLegacy = std::min(excess, countHits(*legacy_));
    deleteOldestHits(*legacy_, fromLegacy);
    excess -= fromLegacy;
  }
  if (excess > 0 && current_) deleteOldestHits(*current_, excess);
}

bool PLUDataStore::Impl::hasChanges() const {
  return (current_ && current_->hasChanges()) || (legacy_ && legacy_->hasChanges());
}

void PLUDataStore::Impl::saveLogged() {
  try {
    save();
  } catch (const std::exception& e) {
    logDatastoreError(e);
  }
}

void PLUDataStore::Impl::save() {
  if (!hasChanges()) return;
  std::function<void()> hook;
  {
    MutexLock lock(mu);
    hook = willCommit;
  }
  if (hook) hook();
  deleteExcessHits();
  if (current_) current_->save();
  if (legacy_) legacy_->save();
  if (drainingLegacy_ && legacy_ && countHits(*legacy_) == 0) drainingLegacy_ = false;
}

}  // namespace loomset
