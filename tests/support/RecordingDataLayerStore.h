// A data-layer persistent store for tests: records every save and clear, and either hands back
// its prepared entries at once (as the no-op store does) or keeps the load callback until the
// test delivers the entries itself, from whatever thread it likes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "loomset/MOXDataLayer.h"

namespace loomset::testing {

class RecordingDataLayerStore : public MOXDataLayerPersistentStore {
 public:
  struct Save {
    std::vector<MOXKeyValue> keyValues;
    std::int64_t lifetimeInMillis;
  };

  // deferLoading: keep the callback until deliver() instead of calling back inside loadSaved.
  explicit RecordingDataLayerStore(bool deferLoading = false, std::vector<MOXKeyValue> saved = {})
      : deferLoading_(deferLoading), saved_(std::move(saved)) {}

  void saveKeyValues(const std::vector<MOXKeyValue>& keyValues,
                     std::int64_t lifetimeInMillis) override;
  void loadSaved(std::shared_ptr<MOXDataLayerPersistentStoreCallback> callback) override;
  void clearKeysWithPrefix(const std::string& keyPrefix) override;

  // Calls back with the prepared entries on the calling thread and drops the callback.
  void deliver();
  bool hasPendingLoad() const;
  // Runs inside every save, on the saving thread, before the save is recorded.
  void onSave(std::function<void(const Save&)> hook) { saveHook_ = std::move(hook); }

  std::vector<Save> saves() const;
  std::vector<std::string> clears() const;

 private:
  const bool deferLoading_;
  const std::vector<MOXKeyValue> saved_;
  std::function<void(const Save&)> saveHook_;
  mutable std::mutex mu_;
  std::shared_ptr<MOXDataLayerPersistentStoreCallback> pending_;  // guarded by mu_
  std::vector<Save> saves_;                                       // guarded by mu_
  std::vector<std::string> clears_;                               // guarded by mu_
};

}  // namespace loomset::testing
