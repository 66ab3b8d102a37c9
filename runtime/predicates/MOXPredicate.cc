#include "runtime/predicates/MOXPredicate.h"

#include "loomset/MOXBoolean.h"
#include "loomset/MOXTypes.h"

namespace loomset {
namespace {

const ValuePtr& booleanValue(bool value) {
  // Values are immutable, so every answer can share one of two.
  static const ValuePtr yes = MOXTypes::objectToValue(MOXBoolean::booleanWithBool(true));
  static const ValuePtr no = MOXTypes::objectToValue(MOXBoolean::booleanWithBool(false));
  return value ? yes : no;
}

}  // namespace

const std::string& MOXPredicate::arg0Key() {
  static const std::string key = "arg0";
  return key;
}

const std::string& MOXPredicate::arg1Key() {
  static const std::string key = "arg1";
  return key;
}

MOXPredicate::MOXPredicate(std::string functionId)
    : MOXFunctionCallImplementation(std::move(functionId), {arg0Key(), arg1Key()}) {}

ValuePtr MOXPredicate::evaluate(const MOXParameterMap& parameters) {
  const MOXPValue* failed = MOXTypes::defaultValue().get();
  for (const auto& entry : parameters) {
    if (entry.second.get() == failed) return booleanValue(false);
  }
  const ValuePtr* arg0 = parameters.find(arg0Key());
  const ValuePtr* arg1 = parameters.find(arg1Key());
  if (!arg0 || !arg1 || !*arg0 || !*arg1) return booleanValue(false);
  return booleanValue(evaluateNoDefaultValues(**arg0, **arg1, parameters));
}

}  // namespace loomset
