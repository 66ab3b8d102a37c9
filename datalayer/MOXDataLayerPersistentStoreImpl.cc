#include "datalayer/MOXDataLayerPersistentStoreImpl.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <utility>

#include "Library/Util/platform/ExitSavers.h"
#include "Library/Util/platform/SerialQueue.h"
#include "datalayer/DataLayerTable.h"
#include "datalayer/MOXKeyAndSerialized.h"
#include "datalayer/ValueArchive.h"
#include "loomset/MOXLog.h"

namespace loomset {

namespace {

// A transaction holding this many writes, or bytes, is committed even while more work is queued.
constexpr std::size_t kMaxGroupedWrites = 8192;
constexpr std::size_t kMaxGroupedBytes = 8 << 20;

std::string libraryDirectory(const Platform& platform) {
  if (platform.directories.root().empty()) return {};
  return platform.directories.libraryDirectory();
}

// now + lifetime as an expiry time, held within 64 bits.
std::int64_t expiryTime(double nowMillis, std::int64_t lifetimeInMillis) {
  const double expires = std::trunc(nowMillis + static_cast<double>(lifetimeInMillis));
  constexpr double kLimit = 9223372036854775807.0;  // 2^63, as the nearest double
  if (expires >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (expires <= -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(expires);
}

}  // namespace

// Everything the queue works on. Its fields are touched on the queue only (the queue itself is
// safe from any thread); queued work holds it, so it outlives the store until that work has run.
class MOXDataLayerPersistentStoreImpl::Core : public std::enable_shared_from_this<Core> {
 public:
  Core(std::string directory, const std::string& databaseName, std::uint64_t maxNumStoredItems,
       std::shared_ptr<Clock> clock, std::shared_ptr<Executor> executor,
       std::shared_ptr<FileSystem> fileSystem)
      : maxNumStoredItems_(maxNumStoredItems),
        clock_(std::move(clock)),
        queue_(std::move(executor), "the data-layer store's queue"),
        table_(std::move(directory), databaseName, std::move(fileSystem)) {}

  // Runs `operation` on the queue, then commits and closes unless more work is waiting.
  void enqueue(std::function<void(Core&)> operation) {
    queue_.post([self = shared_from_this(), operation = std::move(operation)] {
      operation(*self);
      self->settle();
    });
  }

  std::vector<MOXKeyValue> load() {
    std::vector<MOXKeyValue> loaded;
    if (!begin()) return loaded;
    table_.deleteExpired(clock_->nowMillisInt());
    for (MOXKeyAndSerialized& row : table_.loadAll()) {
      ObjectPtr value = datalayer::unarchiveValue(row.serialized);
      if (!value) {
        MOXLog::error("Dropping a data-layer entry that does not decode: " + row.key);
        continue;
      }
      loaded.emplace_back(std::move(row.key), std::move(value));
    }
    return loaded;
  }

  void save(const std::vector<MOXKeyAndSerialized>& entries, std::int64_t lifetimeInMillis) {
    if (!begin()) return;
    const double now = clock_->nowMillis();
    table_.deleteExpired(static_cast<std::int64_t>(now));
    table_.makeRoom(maxNumStoredItems_, entries.size());
    table_.insert(entries, expiryTime(now, lifetimeInMillis));
  }

  void clear(const std::string& prefix) {
    if (begin()) table_.clearKeysWithPrefix(prefix);
  }

  void commit() { table_.commit(); }

  // Ends a burst: the file is closed (and committed) once nothing more is queued.
  void settle() {
    if (!table_.isOpen()) return;
    if (!queue_.hasPendingWork()) {
      table_.close();
    } else if (table_.groupedWrites() >= kMaxGroupedWrites ||
               table_.groupedBytes() >= kMaxGroupedBytes) {
      table_.commit();
    }
  }

 private:
  bool begin() {
    if (!table_.open()) return false;
    table_.beginGroup();
    return true;
  }

  const std::uint64_t maxNumStoredItems_;
  const std::shared_ptr<Clock> clock_;
  SerialQueue queue_;
  datalayer::DataLayerTable table_;  // on the queue only
};

MOXDataLayerPersistentStoreImpl::MOXDataLayerPersistentStoreImpl()
    : MOXDataLayerPersistentStoreImpl(Platform::current()) {}

MOXDataLayerPersistentStoreImpl::MOXDataLayerPersistentStoreImpl(
    std::shared_ptr<const Platform> platform)
    : MOXDataLayerPersistentStoreImpl(kDefaultDatabaseName, kDefaultMaxNumStoredItems, nullptr,
                                      std::move(platform)) {}

MOXDataLayerPersistentStoreImpl::MOXDataLayerPersistentStoreImpl(
    std::string databaseName, std::uint64_t maxNumStoredItems,
    std::shared_ptr<Executor> operationQueue, std::shared_ptr<const Platform> platform)
    : databaseName_(std::move(databaseName)),
      maxNumStoredItems_(maxNumStoredItems),
      core_(std::make_shared<Core>(
          libraryDirectory(*platform), databaseName_, maxNumStoredItems_, platform->clock,
          operationQueue ? std::move(operationQueue) : platform->background,
          platform->fileSystem)) {
  // When the application leaves the foreground, what is queued is committed before it goes on
  // (bounded, so that a queue nobody runs cannot hold the application up).
  exitSaver_ = ExitSavers::addBounded(
      [weakCore = std::weak_ptr<Core>(core_)](ExitSavers::Deadline deadline) {
        const auto core = weakCore.lock();
        if (!core) return;
        auto saved = std::make_shared<std::promise<void>>();
        core->enqueue([saved](Core& c) {
          c.commit();
          saved->set_value();
        });
        const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        saved->get_future().wait_until(std::min(deadline, bound));
      });
}

MOXDataLayerPersistentStoreImpl::~MOXDataLayerPersistentStoreImpl() {
  ExitSavers::remove(exitSaver_);
}

void MOXDataLayerPersistentStoreImpl::saveKeyValues(const std::vector<MOXKeyValue>& keyValues,
                                                    std::int64_t lifetimeInMillis) {
  std::vector<MOXKeyAndSerialized> entries;
  entries.reserve(keyValues.size());
  for (const MOXKeyValue& keyValue : keyValues) {
    std::string reason;
    auto bytes = datalayer::archiveValue(keyValue.value(), &reason);
    if (!bytes) {
      MOXLog::error("Not saving the data-layer entry " + keyValue.key() +
                    ": its value cannot be archived (" + reason + ")");
      continue;
    }
    entries.push_back({keyValue.key(), std::move(*bytes)});
  }
  core_->enqueue([entries = std::move(entries), lifetimeInMillis](Core& core) {
    core.save(entries, lifetimeInMillis);
  });
}

void MOXDataLayerPersistentStoreImpl::loadSaved(
    std::shared_ptr<MOXDataLayerPersistentStoreCallback> callback) {
  core_->enqueue([callback = std::move(callback)](Core& core) {
    const std::vector<MOXKeyValue> loaded = core.load();
    // Restoring may take a while (listeners and tags run); the file need not wait for it.
    core.settle();
    if (callback) callback->onKeyValuesLoaded(loaded);
  });
}

void MOXDataLayerPersistentStoreImpl::clearKeysWithPrefix(const std::string& keyPrefix) {
  core_->enqueue([keyPrefix](Core& core) { core.clear(keyPrefix); });
}

void MOXDataLayerPersistentStoreImpl::flush(std::function<void()> done) {
  core_->enqueue([done = std::move(done)](Core& core) {
    core.commit();
    if (done) done();
  });
}

}  // namespace loomset
