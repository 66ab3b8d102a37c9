// The SQLite-backed data-layer store the manager gives its data layer: every entry of an update
// with a lifetime becomes one row of the table "datalayer" in the file "orvex_loomset.db" of the
// data root's Library directory, kept until its expiry time; a data layer created later gets back
// every entry that has not expired, oldest first. At most `maxNumStoredItems` rows are kept; a
// save that would pass the limit first deletes the oldest rows.
//
// Values are archived on the caller's thread (an object outside the value model is skipped with an
// error line); all database work runs on the store's own serial queue, in the order requested, and
// the load callback runs on that queue. The connection stays open while more work is queued, and
// writes made meanwhile share one transaction; when the queue runs dry the transaction is committed
// and the file closed, so nothing is held open between bursts. Failures are logged and never reach
// the data layer; a store whose file cannot be used loads as empty.
//
// Without a data root (an empty root in the platform bundle) there is no library directory: loads
// yield no entries, saves and clears do nothing, and nothing is logged.
//
// Threads: every operation may be called from any thread and returns at once. Work already queued
// still runs after the store is dropped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "loomset/MOXDataLayer.h"
#include "loomset/platform/Platform.h"

namespace loomset {

class MOXDataLayerPersistentStoreImpl final : public MOXDataLayerPersistentStore {
 public:
  static constexpr const char* kDefaultDatabaseName = "orvex_loomset.db";
  static constexpr std::uint64_t kDefaultMaxNumStoredItems = 2000;

  // The default file and limit, in the platform bundle in force: its Library directory, its clock,
  // and a serial queue over its background executor.
  MOXDataLayerPersistentStoreImpl();
  explicit MOXDataLayerPersistentStoreImpl(std::shared_ptr<const Platform> platform);
  // `operationQueue` runs the store's work, one operation at a time (null: the bundle's
  // background executor).
  MOXDataLayerPersistentStoreImpl(std::string databaseName, std::uint64_t maxNumStoredItems,
                                  std::shared_ptr<Executor> operationQueue,
                                  std::shared_ptr<const Platform> platform = Platform::current());
  ~MOXDataLayerPersistentStoreImpl() override;
  MOXDataLayerPersistentStoreImpl(const MOXDataLayerPersistentStoreImpl&) = delete;
  MOXDataLayerPersistentStoreImpl& operator=(const MOXDataLayerPersistentStoreImpl&) = delete;

  void saveKeyValues(const std::vector<MOXKeyValue>& keyValues,
                     std::int64_t lifetimeInMillis) override;
  void loadSaved(std::shared_ptr<MOXDataLayerPersistentStoreCallback> callback) override;
  void clearKeysWithPrefix(const std::string& keyPrefix) override;

  // Runs `done` on the store's queue once everything requested before has run and been committed
  // to the file.
  void flush(std::function<void()> done);

  const std::string& databaseName() const { return databaseName_; }
  std::uint64_t maxNumStoredItems() const { return maxNumStoredItems_; }

 private:
  class Core;

  const std::string databaseName_;
  const std::uint64_t maxNumStoredItems_;
  const std::shared_ptr<Core> core_;
  // Commits the queued work when the application leaves the foreground.
  std::uint64_t exitSaver_ = 0;
};

}  // namespace loomset
