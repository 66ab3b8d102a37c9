#include "runtime/macros/MOXDataLayerMacro.h"

#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"

namespace loomset {

const std::string& MOXDataLayerMacro::functionId() {
  static const std::string id = "_v";
  return id;
}
const std::string& MOXDataLayerMacro::nameKey() {
  static const std::string key = "name";
  return key;
}
const std::string& MOXDataLayerMacro::defaultValueKey() {
  static const std::string key = "default_value";
  return key;
}

MOXDataLayerMacro::MOXDataLayerMacro(std::shared_ptr<MOXDataLayer> dataLayer)
    : MOXFunctionCallImplementation(functionId(), {nameKey()}), dataLayer_(std::move(dataLayer)) {}

ValuePtr MOXDataLayerMacro::evaluate(const MOXParameterMap& parameters) {
  const ValuePtr* name = parameters.find(nameKey());
  if (!name || !*name || !dataLayer_) return MOXTypes::defaultValue();
  const MOXPValue& nameValue = **name;
  const ObjectPtr object = nameValue.type() == MOXPValue::String && nameValue.has_string()
                               ? dataLayer_->get(nameValue.string())
                               : dataLayer_->get(MOXTypes::valueToString(*name)->text());
  if (object) {
    if (isNull(object)) return MOXTypes::defaultValue();
    return MOXTypes::objectToValue(object);
  }
  ValuePtr fallback = parameters.get(defaultValueKey());
  return fallback ? fallback : MOXTypes::defaultValue();
}

}  // namespace loomset
