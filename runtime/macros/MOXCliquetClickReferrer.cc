#include "runtime/macros/MOXCliquetClickReferrer.h"

#include <optional>

#include "loomset/MOXTypes.h"
#include "runtime/macros/MOXClickReferrerUtil.h"
#include "runtime/macros/MOXMacroValues.h"

namespace loomset {

const std::string& MOXCliquetClickReferrer::functionId() {
  static const std::string id = "_cqcr";
  return id;
}
const std::string& MOXCliquetClickReferrer::conversionIdKey() {
  static const std::string key = "conversion_id";
  return key;
}
const std::string& MOXCliquetClickReferrer::componentKey() {
  static const std::string key = "component";
  return key;
}

MOXCliquetClickReferrer::MOXCliquetClickReferrer()
    : MOXFunctionCallImplementation(functionId(), {conversionIdKey()}) {}

ValuePtr MOXCliquetClickReferrer::evaluate(const MOXParameterMap& parameters) {
  const ValuePtr* conversionId = parameters.find(conversionIdKey());
  if (!conversionId) return MOXTypes::defaultValue();
  std::optional<std::string> component;
  if (const ValuePtr* name = parameters.find(componentKey())) component = macrovalues::text(*name);
  std::optional<std::string> referrer = MOXClickReferrerUtil::clickReferrerForConversionId(
      macrovalues::text(*conversionId), component);
  if (!referrer) return MOXTypes::defaultValue();
  return macrovalues::stringValue(std::move(*referrer));
}

}  // namespace loomset
