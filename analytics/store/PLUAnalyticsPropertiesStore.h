// The analytics properties store: one record per tracking id in the table "properties" of the
// shared SQL store ("kestrel-aux-v4.sql"): the client id the record belongs to, the last hit
// number handed out (sent as "&_s"), the time of the last write, and whether the install-campaign
// hit was handled for that tracking id. At most 1000 records are kept.
//
// Threads: used from the analytics worker thread only; it takes no lock of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3_stmt;

namespace loomset {

class Clock;
class EventLoop;
class PLUPropertiesWriteCache;
class PLUSqlStore;
struct Platform;

// One row of "properties". A field read back from a damaged row, or left out by a caller, is
// absent, and a record with an absent field is not written.
struct PLUPropertyRecord {
  std::string tid;
  std::string cid;
  std::optional<std::int64_t> hitNumber;
  std::optional<double> lastModifiedTimeSince1970;
  std::optional<bool> checkedIAdCampaign;
};

class PLUAnalyticsPropertiesStore {
 public:
  static constexpr std::int64_t kStorageLimit = 1000;

  // A store over "kestrel-aux-v4.sql" in `platform`'s Library directory (over no SQL store
  // without a data directory), on the platform's clock and file system, grouping writes on
  // `worker`.
  static std::shared_ptr<PLUAnalyticsPropertiesStore> forPlatform(
      const std::shared_ptr<const Platform>& platform, std::shared_ptr<EventLoop> worker);

  // A null SQL store (no data directory) makes every operation fail with "Failed to open
  // database". `clock` defaults to the platform bundle's clock in force at each write.
  // With a `worker`, writes made on that loop in one burst share one commit: the first opens a
  // transaction and a block posted behind the queued work commits it. Without one (or from other
  // threads) every write commits at once.
  explicit PLUAnalyticsPropertiesStore(std::shared_ptr<PLUSqlStore> sqlStore,
                                       std::shared_ptr<const Clock> clock = nullptr,
                                       std::shared_ptr<EventLoop> worker = nullptr);
  ~PLUAnalyticsPropertiesStore();
  PLUAnalyticsPropertiesStore(const PLUAnalyticsPropertiesStore&) = delete;
  PLUAnalyticsPropertiesStore& operator=(const PLUAnalyticsPropertiesStore&) = delete;

  // Commits the writes grouped so far at once, rather than in the block posted for them.
  void commitPendingWrites();

  // "0" for the first hit of a tracking id, then "1", "2", ...; nothing when no number can be
  // handed out (empty ids, a full table, an exhausted counter, a database failure). A client id
  // other than the stored one empties the whole table first.
  std::optional<std::string> nextHitNumberForTrackingId(const std::string& trackingId,
                                                        const std::string& clientId);
  // True exactly when this call set the flag.
  bool setCheckedIAdCampaignForTrackingId(const std::string& trackingId);
  std::optional<PLUPropertyRecord> propertyRecordForTrackingId(const std::string& trackingId);
  // Nothing when the tracking id or client id is empty; modified now.
  std::optional<PLUPropertyRecord> createPropertyRecordWithTrackingId(const std::string& trackingId,
                                                                      const std::string& clientId,
                                                                      std::int64_t hitNumber,
                                                                      bool checkedIAdCampaign);
  // On success the record's modification time is the one written.
  bool upsertPropertyRecord(PLUPropertyRecord* record);
  bool bindRecord(const PLUPropertyRecord& record, sqlite3_stmt* statement);

  bool createOrValidatePropertiesTable();
  bool createPropertiesTable();
  bool hasValidPropertyColumns();
  bool clearPropertiesTable();
  std::int64_t trackerIdCount();
  bool isPropertiesTableFull();
  std::int64_t storageLimit() const { return kStorageLimit; }

  // Called after the SQL store opened and validated its database.
  void onOpenDatabase();

  const std::shared_ptr<PLUSqlStore>& sqlStore() const { return sqlStore_; }
  const std::string& createTableSql() const { return createTableSql_; }
  const std::string& upsertSql() const { return upsertSql_; }
  // The column names, in table order.
  static const std::vector<std::string>& columnNames();

 private:
  struct ObserverTarget;
  double now() const;
  // The table's rows, from what is known inside the open write transaction when it can.
  std::int64_t countRowsOfOpenDatabase();
  std::int64_t countRows();
  // Whether the table is exactly as this store creates it, in a UTF-8 file, with no index or
  // trigger of another writer: only then may what was read inside a transaction be reused.
  bool tableIsPlain();
  void groupWrites();
  void commitGroupedWrites();

  const std::shared_ptr<PLUSqlStore> sqlStore_;
  const std::shared_ptr<const Clock> clock_;
  const std::shared_ptr<EventLoop> worker_;
  const std::string createTableSql_;
  const std::string upsertSql_;
  const std::string selectSql_;
  const std::string deleteSql_;
  const std::string tableInfoSql_;
  const std::shared_ptr<ObserverTarget> target_;
  std::shared_ptr<void> openObserver_;
  // Rows and the row count known inside this store's open write transaction.
  const std::unique_ptr<PLUPropertiesWriteCache> known_;
};

}  // namespace loomset
