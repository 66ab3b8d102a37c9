// "_r": a random integer in [min, max), drawn from the platform's cryptographically seeded
// RandomSource on every use (not cacheable). "min" and "max" (numbers, default 0 and
// 2147483647) count only together: a single bound, one that is not a finite number, or a
// reversed pair gives the default range. Fractional bounds are allowed: the range is rounded,
// the draw added to the lower bound and the sum truncated toward zero.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "loomset/MOXFunctionCallImplementation.h"
#include "loomset/platform/Platform.h"

namespace loomset {

class MOXRandom final : public MOXFunctionCallImplementation {
 public:
  static constexpr double kDefaultMin = 0.0;
  static constexpr double kDefaultMax = 2147483647.0;

  static const std::string& functionId();  // "_r"
  static const std::string& minKey();      // "min"
  static const std::string& maxKey();      // "max"

  // The range to draw from, given the converted bounds (nothing where a bound is absent or not
  // a number).
  static std::pair<double, double> bounds(std::optional<double> min, std::optional<double> max);
  // One draw in [lo, hi): lo plus a uniform draw below the rounded width, truncated toward zero
  // and held within the 64-bit range. Widths beyond 32 bits scale one 64-bit draw.
  static std::int64_t draw(double lo, double hi, RandomSource& random);

  MOXRandom() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return false; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
