// "_t": the wall time of the platform clock as an Integer count of milliseconds since 1970,
// truncated. Not cacheable.
#pragma once

#include <string>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXTime final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_t"
  MOXTime() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return false; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
