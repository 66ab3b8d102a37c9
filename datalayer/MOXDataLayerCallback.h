// The load callback a data layer hands to its store. It keeps the data layer alive for as long as
// the store holds it, so a store that calls back later on its own thread never finds it gone.
#pragma once

#include <memory>
#include <vector>

#include "loomset/MOXDataLayer.h"

namespace loomset {

class MOXDataLayerCallback final : public MOXDataLayerPersistentStoreCallback {
 public:
  explicit MOXDataLayerCallback(std::shared_ptr<MOXDataLayer> dataLayer)
      : dataLayer_(std::move(dataLayer)) {}
  void onKeyValuesLoaded(const std::vector<MOXKeyValue>& keyValues) override {
    dataLayer_->onKeyValuesLoaded(keyValues);
  }

 private:
  const std::shared_ptr<MOXDataLayer> dataLayer_;
};

}  // namespace loomset
