// The data layer: the in-process store of facts and events through which the application talks
// to the container runtime.
//
// The application pushes maps (updates). Each update is merged into one nested model and then
// handed, exactly as pushed, to every registered listener on the pushing thread. A push made
// from inside a listener (or from a tag a listener fires) on the same thread is queued and
// processed after the current update, breadth first. An update that carries a nested
// "wen" -> "lifetime" entry is also saved to the persistent store and restored when a data layer
// is next created over that store.
//
// Ownership: the data layer owns its model (nested maps and lists it builds itself; pushed maps
// and lists are merged into its own copies, never kept), holds listeners strongly until they are
// unregistered, and owns its store. The store keeps the data layer alive while it holds the
// load callback.
//
// Threads: any thread may push, read and register. Pushes are serialised by a recursive push
// lock, and listeners run on the pushing thread while it is held; `get` may be called from a
// listener. `push` blocks until the store has restored its saved entries, except on a thread that
// is already delivering an update (a listener called during restoring may push).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loomset/Collections.h"
#include "loomset/Object.h"

namespace loomset {

// Inside a list of an update: leave the item at this position unchanged. Anywhere else it is an
// ordinary object. Recognised by identity.
LOOMSET_EXPORT const ObjectPtr& kMOXDataLayerObjectNotPresent();

// One flattened entry: a dotted key path and its value.
class LOOMSET_EXPORT MOXKeyValue {
 public:
  MOXKeyValue(std::string key, ObjectPtr value) : key_(std::move(key)), value_(std::move(value)) {}
  const std::string& key() const { return key_; }
  const ObjectPtr& value() const { return value_; }
  bool operator==(const MOXKeyValue& other) const;
  std::uint64_t hash() const;
  std::string description() const;  // "MOXKeyValue(<key>, <value>)"

 private:
  std::string key_;
  ObjectPtr value_;
};

class LOOMSET_EXPORT MOXDataLayerListener {
 public:
  virtual ~MOXDataLayerListener() = default;
  // Called on the pushing thread after the update has been merged, with the update as pushed.
  virtual void changed(const std::shared_ptr<Dictionary>& update) = 0;
};

class LOOMSET_EXPORT MOXDataLayerPersistentStoreCallback {
 public:
  virtual ~MOXDataLayerPersistentStoreCallback() = default;
  virtual void onKeyValuesLoaded(const std::vector<MOXKeyValue>& keyValues) = 0;
};

// Where updates with a lifetime go. `loadSaved` may call back at once or later on any thread.
class LOOMSET_EXPORT MOXDataLayerPersistentStore {
 public:
  virtual ~MOXDataLayerPersistentStore() = default;
  virtual void saveKeyValues(const std::vector<MOXKeyValue>& keyValues,
                             std::int64_t lifetimeInMillis) = 0;
  virtual void loadSaved(std::shared_ptr<MOXDataLayerPersistentStoreCallback> callback) = 0;
  virtual void clearKeysWithPrefix(const std::string& keyPrefix) = 0;
};

// The store that keeps nothing; `loadSaved` calls back at once with no entries.
class LOOMSET_EXPORT MOXNoopDataLayerPersistentStore : public MOXDataLayerPersistentStore {
 public:
  void saveKeyValues(const std::vector<MOXKeyValue>&, std::int64_t) override {}
  void loadSaved(std::shared_ptr<MOXDataLayerPersistentStoreCallback> callback) override;
  void clearKeysWithPrefix(const std::string&) override {}
};

class LOOMSET_EXPORT MOXDataLayer : public std::enable_shared_from_this<MOXDataLayer> {
 public:
  // A data layer over the store that keeps nothing.
  static std::shared_ptr<MOXDataLayer> create();
  // Starts restoring the store's saved entries before it returns.
  static std::shared_ptr<MOXDataLayer> createWithPersistentStore(
      std::shared_ptr<MOXDataLayerPersistentStore> store);
  ~MOXDataLayer();
  MOXDataLayer(const MOXDataLayer&) = delete;
  MOXDataLayer& operator=(const MOXDataLayer&) = delete;

  // Merges the update and notifies the listeners. Throws MOXListenerPushLoop when one drain of
  // nested pushes reaches 501 updates, and passes on whatever a listener throws; either way the
  // data layer stays usable afterwards. Entries nested deeper than kMaxNestingDepth levels
  // (key path components included) are logged and not merged.
  void push(const std::shared_ptr<Dictionary>& update);
  void pushValue(const ObjectPtr& value, const std::string& keyPath);
  // The object at a dotted key path, the null object when the path runs into one, or null when
  // nothing is there. Lists are never indexed. The returned map or list is the stored one and is
  // never changed afterwards (a later push stores a changed copy), so a reader on another thread
  // sees a stable snapshot; treat it as read-only.
  ObjectPtr get(const std::string& keyPath) const;
  // Rises before every merge into the model begins. Two reads between which it stayed the same saw
  // the same model, so a result computed from the model may be reused while it does not change.
  std::uint64_t changeCount() const;

  void registerListener(std::shared_ptr<MOXDataLayerListener> listener);
  void unregisterListener(const std::shared_ptr<MOXDataLayerListener>& listener);

  // Replaces the subtree at the prefix with the null object and clears the store's entries.
  void clearPersistentKeysWithPrefix(const std::string& keyPrefix);
  // A chain of new maps, one per "."-separated component, holding the value itself at the end.
  // A path of more than kMaxNestingDepth components is logged and gives an empty map.
  static std::shared_ptr<Dictionary> expandKey(const std::string& keyPath, const ObjectPtr& value);

  // Lifetime of an update in milliseconds, or nothing (with the log line that says why). A product
  // beyond 64 bits saturates.
  static std::optional<std::int64_t> parseLifetime(const ObjectPtr& lifetime);

  // Updates one drain may process; the next one fails the outermost push.
  static constexpr int kMaxUpdatesPerDrain = 500;
  // Deepest nesting of maps and lists (plus key path components) that is merged or saved.
  static constexpr int kMaxNestingDepth = 256;

 private:
  class Impl;
  friend class MOXDataLayerCallback;
  explicit MOXDataLayer(std::shared_ptr<MOXDataLayerPersistentStore> store);
  // Reached through the load callback the store holds: restores saved entries, then lets
  // waiting pushes through.
  void onKeyValuesLoaded(const std::vector<MOXKeyValue>& keyValues);
  void startLoading();
  std::unique_ptr<Impl> impl_;
};

}  // namespace loomset
