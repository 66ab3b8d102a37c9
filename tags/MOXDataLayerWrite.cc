#include "tags/MOXDataLayerWrite.h"

#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"

namespace loomset {

const std::string& MOXDataLayerWrite::functionId() {
  static const std::string id = "_dlw";
  return id;
}
const std::string& MOXDataLayerWrite::valueKey() {
  static const std::string key = "value";
  return key;
}
const std::string& MOXDataLayerWrite::clearPersistentPrefixKey() {
  static const std::string key = "clear_data_layer_prefix";
  return key;
}

MOXDataLayerWrite::MOXDataLayerWrite(std::shared_ptr<MOXDataLayer> dataLayer)
    : MOXTrackingTag(functionId(), {valueKey()}), dataLayer_(std::move(dataLayer)) {}

void MOXDataLayerWrite::evaluateTrackingTag(const MOXParameterMap& parameters) {
  if (!dataLayer_) return;
  // Pushing first means values this firing writes under the prefix are cleared again at once.
  pushToDataLayer(parameters.get(valueKey()));
  clearPersistent(parameters.get(clearPersistentPrefixKey()));
}

void MOXDataLayerWrite::pushToDataLayer(const ValuePtr& value) {
  if (!value) return;
  const ObjectPtr object = MOXTypes::valueToObject(value);
  const Array* list = asArray(object);
  if (!list) return;
  for (const ObjectPtr& item : list->items()) {
    if (item && item->kind() == ObjectKind::Dictionary) {
      dataLayer_->push(std::static_pointer_cast<Dictionary>(item));
    }
  }
}

void MOXDataLayerWrite::clearPersistent(const ValuePtr& prefix) {
  if (!prefix) return;
  const std::shared_ptr<String> text = MOXTypes::valueToString(prefix);
  if (text == MOXTypes::defaultString()) return;
  dataLayer_->clearPersistentKeysWithPrefix(text->text());
}

}  // namespace loomset
