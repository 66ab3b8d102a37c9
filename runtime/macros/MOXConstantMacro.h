// "_c": the "value" parameter itself, unchanged. Cacheable.
#pragma once

#include <string>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXConstantMacro final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_c"
  static const std::string& valueKey();    // "value"

  MOXConstantMacro();
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
