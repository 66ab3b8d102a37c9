#include "values/MOXResourceUtilSteps.h"

#include "loomset/Exceptions.h"
#include "loomset/MOXLog.h"

namespace loomset {

void MOXResourceUtilSteps::copyBasics(const MOXPValue& from, MOXPValue* to) {
  to->set_type(from.type());
  to->mutable_escaping()->CopyFrom(from.escaping());
  if (from.contains_references()) to->set_contains_references(true);
}

std::shared_ptr<MOXPValue> MOXResourceUtilSteps::valueBuilderBasedOnValue(const MOXPValue& value) {
  auto result = std::make_shared<MOXPValue>();
  copyBasics(value, result.get());
  return result;
}

const MOXPServingValue& MOXResourceUtilSteps::servingValue(const MOXPValue& value) {
  if (!value.HasExtension(MOXPServingValue::ext)) {
    logAndThrow("Expected a ServingValue and didn't get one");
  }
  return value.GetExtension(MOXPServingValue::ext);
}

void MOXResourceUtilSteps::logAndThrow(const std::string& message) {
  MOXLog::error(message);
  throw InvalidResourceException("Resource is invalid");
}

}  // namespace loomset
