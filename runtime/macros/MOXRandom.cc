#include "runtime/macros/MOXRandom.h"

#include <cmath>

#include "loomset/MOXTypes.h"
#include "runtime/macros/MOXMacroValues.h"

namespace loomset {
namespace {

std::optional<double> bound(const ValuePtr& value) {
  const std::shared_ptr<Number> number = MOXTypes::valueToNumber(value);
  if (number == MOXTypes::defaultNumber()) return std::nullopt;
  return number->doubleValue();
}

}  // namespace

const std::string& MOXRandom::functionId() {
  static const std::string id = "_r";
  return id;
}
const std::string& MOXRandom::minKey() {
  static const std::string key = "min";
  return key;
}
const std::string& MOXRandom::maxKey() {
  static const std::string key = "max";
  return key;
}

std::pair<double, double> MOXRandom::bounds(std::optional<double> min, std::optional<double> max) {
  // An infinite bound (a decimal text too large for a double) would turn every draw into the
  // same saturated number or NaN, so it counts as no bound.
  if (!min || !max || !std::isfinite(*min) || !std::isfinite(*max) || *min > *max) {
    return {kDefaultMin, kDefaultMax};
  }
  return {*min, *max};
}

std::int64_t MOXRandom::draw(double lo, double hi, RandomSource& random) {
  constexpr double kMax32 = 4294967295.0;
  const double range = std::round(hi - lo);
  if (range <= kMax32) {
    const std::uint32_t r = random.uniform(static_cast<std::uint32_t>(range));
    return macrovalues::saturatingInt64(lo + r);
  }
  const std::uint64_t high = random.uniform(0xFFFFFFFFu);
  const std::uint64_t low = random.uniform(0xFFFFFFFFu);
  const double f = static_cast<double>((high << 32) | low) * 0x1p-64;
  // Two finite bounds far apart can overflow their difference; weighing the bounds instead
  // keeps the draw spread over the whole range.
  const double result = std::isfinite(range) ? lo + std::round(range * f) : lo * (1 - f) + hi * f;
  return macrovalues::saturatingInt64(result);
}

ValuePtr MOXRandom::evaluate(const MOXParameterMap& parameters) {
  std::optional<double> min, max;
  // A single bound is ignored without being converted.
  const ValuePtr* minValue = macrovalues::presentParameter(parameters, minKey());
  const ValuePtr* maxValue = macrovalues::presentParameter(parameters, maxKey());
  if (minValue && maxValue) {
    min = bound(*minValue);
    max = bound(*maxValue);
  }
  const auto [lo, hi] = bounds(min, max);
  const auto platform = Platform::current();
  return macrovalues::integerValue(draw(lo, hi, *platform->random));
}

}  // namespace loomset
