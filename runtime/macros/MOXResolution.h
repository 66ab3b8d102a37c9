// "_rs": the main screen's size in pixels, "<width>x<height>" (DeviceInfo's size in points times
// its scale, each rounded up), such as "750x1334". Cacheable.
#pragma once

#include <string>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXResolution final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_rs"

  // Each side times the scale, taken as a 32-bit float and rounded up to a whole number. Sides
  // that are not finite count as 0; sides beyond the 32-bit integer range stop at its limits.
  static std::string resolutionText(double widthPoints, double heightPoints, double scale);

  MOXResolution() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
