// The analytics hit store: hits waiting to be sent, kept in SQLite files under the data root's
// Library directory so that they survive restarts and offline periods, plus the installation's
// four client properties.
//
// Two files: "kestrel-v3.sql" receives every new hit; the legacy "kestrel-v2.sql" holds hits of
// an older release (read, converted and drained until none is left) and the client properties.
// The dispatcher is the only reader and writer of hits; tracker models read and write the client
// properties through `PLUClientProperties`.
//
// Like an object-store context, inserts are visible to fetches at once and become durable on
// `save`. Every operation runs on the analytics worker thread (the loop given at creation, by
// default the platform bundle's "PLUThread"); callers on other threads block until it is done, and
// calls made on the worker thread itself run inline. Directories are made, and damaged files
// removed, through the bundle's file system. Property setters update the cached value at once and
// write it on the worker thread without waiting.
//
// Threads: every operation may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/model/PLUClientProperties.h"
#include "analytics/store/PLUError.h"
#include "loomset/PLUHitMap.h"

namespace loomset {

class EventLoop;
struct Platform;

inline constexpr const char* kOldDatastoreFilename = "kestrel-v2.sql";
inline constexpr const char* kNewDatastoreFilename = "kestrel-v3.sql";
inline constexpr const char* kNSSQLiteErrorDomain = "NSSQLiteErrorDomain";

// The identity of a stored hit, valid for the life of the store files. Identities are never
// reused, so a hit deleted while a request for it was in flight cannot take another hit with it.
struct PLUHitObjectId {
  bool legacy = false;  // a record of the legacy file
  std::int64_t row = 0;

  friend bool operator==(const PLUHitObjectId& a, const PLUHitObjectId& b) {
    return a.legacy == b.legacy && a.row == b.row;
  }
  friend bool operator!=(const PLUHitObjectId& a, const PLUHitObjectId& b) { return !(a == b); }
};

// A hit as handed to the store ({"timestamp", "parameters"}) and as fetched (plus "objectID").
struct PLUStoredHit {
  // Seconds since 1970; `addHit` stamps a hit without one with the current time.
  std::optional<double> timestamp;
  PLUHitMap parameters;
  // Set on fetched hits only.
  PLUHitObjectId objectID;
};

class PLUDataStore final : public PLUClientProperties,
                           public std::enable_shared_from_this<PLUDataStore> {
 public:
  static constexpr std::uint32_t kDefaultMaxHitCount = 2000;
  // Legacy hits at least this old are removed when the store is set up.
  static constexpr double kLegacyHitMaxAgeSeconds = 2592000.0;

  // A new store over `platform`'s Library directory (an empty data root keeps hits in memory
  // only), working on `worker` (the platform's analytics worker when null). Each call creates a
  // store; set-up starts on the worker thread at once without waiting. A null platform stands
  // for the bundle in force.
  static std::shared_ptr<PLUDataStore> create(std::shared_ptr<const Platform> platform,
                                              std::shared_ptr<EventLoop> worker = nullptr);

  // Saves pending changes and closes the files (waiting for the worker thread).
  ~PLUDataStore() override;
  PLUDataStore(const PLUDataStore&) = delete;
  PLUDataStore& operator=(const PLUDataStore&) = delete;

  // Hits. Without an `error` slot, errors are logged ("Datastore error: %@"). A store whose
  // files could not be created answers nothing / false / 0 without an error.
  void addHit(const PLUStoredHit& hit);
  // The oldest `limit` hits (0: all), oldest first, from the legacy file while it still holds
  // hits, else from the current file.
  std::vector<PLUStoredHit> fetchHitsWithLimit(std::uint32_t limit, PLUError* error = nullptr);
  bool deleteHitsWithIds(const std::vector<PLUHitObjectId>& ids, PLUError* error = nullptr);
  bool deleteAllHits(PLUError* error = nullptr);
  // -1 on error.
  std::int64_t hitCount(PLUError* error = nullptr);
  // Makes pending changes durable, first dropping the oldest hits beyond `maxHitCount`.
  bool save(PLUError* error = nullptr);
  // Runs on the worker thread at the start of every save that has changes, before anything is
  // committed. The dispatcher commits the hit numbers it has handed out there, so that no hit
  // becomes durable before its number does: otherwise a process ending between the two commits
  // would hand the same number out again.
  void setWillCommit(std::function<void()> hook);

  std::uint32_t maxHitCount() const;
  void setMaxHitCount(std::uint32_t count);  // 0: no limit

  // Client properties (persisted in the legacy file).
  std::string clientId() override;
  void setClientId(const std::string& clientId) override;
  std::optional<std::string> hashedIdfa() override;
  void setHashedIdfa(const std::optional<std::string>& hash) override;
  std::int64_t idfaChangeCount() override;
  void setIdfaChangeCount(std::int64_t count) override;
  double lastChangeTimeStamp() override;
  void setLastChangeTimeStamp(double seconds) override;

  // Runs `block` on the worker thread and waits. False, with no error, when the store is
  // unusable; false with `error` set when the block threw or set an error itself. An exception
  // becomes an error of `kNSSQLiteErrorDomain`, code -1, user info "exception" = its description.
  bool performBlockAndWait(const std::function<void(PLUError* error)>& block, PLUError* error);
  template <typename T>
  std::optional<T> performBlockAndWait(const std::function<T(PLUError* error)>& block,
                                       PLUError* error) {
    std::optional<T> result;
    const bool ok = performBlockAndWait([&](PLUError* e) { result = block(e); }, error);
    if (!ok) result.reset();
    return result;
  }

  // True once both files were opened (waits for set-up).
  bool isSetUp();

  // The file's path in `platform`'s Library directory.
  static std::string databaseFullPath(const Platform& platform, const std::string& fileName);
  // The same, as a "file://" URL.
  static std::string databaseFullURL(const Platform& platform, const std::string& fileName);

  // Saves every live store (errors ignored): the application will resign active or terminate.
  static void saveAllStores();

  class Impl;

 private:
  PLUDataStore(std::shared_ptr<const Platform> platform, std::shared_ptr<EventLoop> worker);

  const std::shared_ptr<EventLoop> worker_;
  const std::shared_ptr<Impl> impl_;
};

}  // namespace loomset
