#include "loomset/MOXDataLayer.h"

namespace loomset {

void MOXNoopDataLayerPersistentStore::loadSaved(
    std::shared_ptr<MOXDataLayerPersistentStoreCallback> callback) {
  if (callback) callback->onKeyValuesLoaded({});
}

}  // namespace loomset
