#include "runtime/macros/MOXConstantMacro.h"

#include "loomset/MOXTypes.h"

namespace loomset {

const std::string& MOXConstantMacro::functionId() {
  static const std::string id = "_c";
  return id;
}

const std::string& MOXConstantMacro::valueKey() {
  static const std::string key = "value";
  return key;
}

MOXConstantMacro::MOXConstantMacro() : MOXFunctionCallImplementation(functionId(), {valueKey()}) {}

ValuePtr MOXConstantMacro::evaluate(const MOXParameterMap& parameters) {
  ValuePtr value = parameters.get(valueKey());
  return value ? value : MOXTypes::defaultValue();
}

}  // namespace loomset
