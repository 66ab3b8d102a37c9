// The state of a hit store and the work it does on its worker thread: the two store files, the
// migration state, and the cached client properties.
//
// Threads: everything but the cached properties (guarded by `mu`) and `maxHitCount` (atomic) is
// touched on the worker thread only. Failures of SQLite are thrown; `PLUDataStore` turns them
// into errors.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Library/Util/platform/Mutex.h"
#include "analytics/store/PLUDataStore.h"
#include "analytics/store/PLUStoreDatabase.h"

namespace loomset {

// The four client properties' row names in the legacy file.
struct PLUDataStoreProperty {
  static constexpr const char* kClientId = "ClientId";
  static constexpr const char* kHashedIdfa = "idfa";
  static constexpr const char* kChangeCount = "numChanges";
  static constexpr const char* kChangeTime = "changeTS";
};

class PLUDataStore::Impl {
 public:
  // Bits of `setBeforeLoad`: properties set by the application before set-up loaded them, which
  // set-up then leaves alone.
  static constexpr unsigned kClientIdSet = 1;
  static constexpr unsigned kHashedIdfaSet = 2;
  static constexpr unsigned kChangeCountSet = 4;
  static constexpr unsigned kChangeTimeSet = 8;

  explicit Impl(std::shared_ptr<const Platform> platform);

  // Opens both files, starts the drain of legacy hits and loads the client properties. Runs
  // once; later calls return the first outcome (both files open).
  bool setUpCoreData();
  // The file hits are read from: the legacy one while it holds hits, else the current one;
  // null when the store is unusable.
  PLUStoreDatabase* currentContext() const;
  void close();

  void addHit(const PLUStoredHit& hit);
  std::vector<PLUStoredHit> fetchHits(std::uint32_t limit);
  void deleteHits(const std::vector<PLUHitObjectId>& ids);
  void deleteAllHits();
  std::int64_t hitCount();
  void save();
  // The same, logging failures ("Datastore error: %@").
  void saveLogged();
  bool hasChanges() const;

  // A property's value: text for the "string" column (nothing writes NULL), or a number for the
  // "number" column.
  using PropertyValue = std::variant<std::optional<std::string>, std::int64_t>;
  // Writes one property row of the legacy file and saves that file.
  void writeProperty(const char* name, const PropertyValue& value);
  // The same after set-up, logging failures ("Datastore error: %@").
  void writePropertyLogged(const char* name, const PropertyValue& value);
  void cacheClientId(const std::string& clientId) EXCLUDES(mu);

  std::atomic<std::uint32_t> maxHitCount{kDefaultMaxHitCount};
  // A commit is posted to the worker thread and has not run yet (worker thread only).
  bool saveScheduled = false;

  // The cached client properties, read by any thread; and the hook run before each commit.
  Mutex mu;
  std::function<void()> willCommit GUARDED_BY(mu);
  std::string clientId GUARDED_BY(mu);
  std::optional<std::string> hashedIdfa GUARDED_BY(mu);
  std::int64_t idfaChangeCount GUARDED_BY(mu) = 0;
  double lastChangeTimeStamp GUARDED_BY(mu) = 0;
  unsigned setBeforeLoad GUARDED_BY(mu) = 0;
  // Set once the client id is known; the getter no longer waits then.
  std::atomic<bool> clientIdCached{false};

 private:
  std::unique_ptr<PLUStoreDatabase> openStoreFile(const char* fileName, const std::string& schema,
                                                  const std::vector<std::string>& columns);
  void dropLegacyHitsOlderThan(double cutoffSeconds);
  void loadProperties() EXCLUDES(mu);
  std::optional<std::string> readTextProperty(const char* name);
  std::optional<std::int64_t> readNumberProperty(const char* name);
  std::vector<PLUStoredHit> fetchCurrentHits(std::uint32_t limit);
  std::vector<PLUStoredHit> fetchLegacyHits(std::uint32_t limit);
  std::int64_t countHits(PLUStoreDatabase& db);
  void deleteOldestHits(PLUStoreDatabase& db, std::int64_t count);
  void deleteExcessHits();
  double now() const;

  const std::shared_ptr<const Platform> platform_;
  // Worker thread only.
  bool setUpAttempted_ = false;
  bool setUp_ = false;
  bool drainingLegacy_ = false;
  std::unique_ptr<PLUStoreDatabase> legacy_;
  std::unique_ptr<PLUStoreDatabase> current_;
};

}  // namespace loomset
