// "_cqcr": the click referrer recorded for "conversion_id" (MOXClickReferrerUtil), whole or,
// with "component", the value of that one query component of it. MOXTypes::defaultValue(),
// silently, when nothing was recorded. Cacheable.
#pragma once

#include <string>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXCliquetClickReferrer final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();       // "_cqcr"
  static const std::string& conversionIdKey();  // "conversion_id"
  static const std::string& componentKey();     // "component"

  MOXCliquetClickReferrer();
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
