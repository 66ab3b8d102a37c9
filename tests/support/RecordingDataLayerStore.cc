#include "support/RecordingDataLayerStore.h"

namespace loomset::testing {

void RecordingDataLayerStore::saveKeyValues(const std::vector<MOXKeyValue>& keyValues,
                                            std::int64_t lifetimeInMillis) {
  Save save{keyValues, lifetimeInMillis};
  if (saveHook_) saveHook_(save);
  std::lock_guard<std::mutex> lock(mu_);
  saves_.push_back(std::move(save));
}

void RecordingDataLayerStore::loadSaved(
    std::shared_ptr<MOXDataLayerPersistentStoreCallback> callback) {
  if (!deferLoading_) {
    callback->onKeyValuesLoaded(saved_);
    return;
  }
  std::lock_guard<std::mutex> lock(mu_);
  pending_ = std::move(callback);
}

void RecordingDataLayerStore::clearKeysWithPrefix(const std::string& keyPrefix) {
  std::lock_guard<std::mutex> lock(mu_);
  clears_.push_back(keyPrefix);
}

void RecordingDataLayerStore::deliver() {
  std::shared_ptr<MOXDataLayerPersistentStoreCallback> callback;
  {
    std::lock_guard<std::mutex> lock(mu_);
    callback.swap(pending_);
  }
  if (callback) callback->onKeyValuesLoaded(saved_);
}

bool RecordingDataLayerStore::hasPendingLoad() const {
  std::lock_guard<std::mutex> lock(mu_);
  return pending_ != nullptr;
}

std::vector<RecordingDataLayerStore::Save> RecordingDataLayerStore::saves() const {
  std::lock_guard<std::mutex> lock(mu_);
  return saves_;
}

std::vector<std::string> RecordingDataLayerStore::clears() const {
  std::lock_guard<std::mutex> lock(mu_);
  return clears_;
}

}  // namespace loomset::testing
