#include "runtime/macros/MOXMacroValues.h"

#include <cmath>
#include <limits>
#include <memory>

#include "loomset/MOXTypes.h"

namespace loomset::macrovalues {

std::string text(const ValuePtr& value) {
  if (value && isPlainString(*value)) return value->string();
  return MOXTypes::valueToString(value)->text();
}

ValuePtr stringValue(std::string text) {
  auto value = std::make_shared<MOXPValue>();
  value->set_type(MOXPValue::String);
  value->set_string(std::move(text));
  return value;
}

ValuePtr integerValue(std::int64_t number) {
  auto value = std::make_shared<MOXPValue>();
  value->set_type(MOXPValue::Integer);
  value->set_integer(number);
  return value;
}

ValuePtr booleanValue(bool flag) {
  auto value = std::make_shared<MOXPValue>();
  value->set_type(MOXPValue::Boolean);
  value->set_boolean(flag);
  return value;
}

ValuePtr platformText(const std::string& text) {
  if (text.empty()) return MOXTypes::objectToValue(nullptr);
  return stringValue(text);
}

const ValuePtr* presentParameter(const MOXParameterMap& parameters, std::string_view key) {
  const ValuePtr* value = parameters.find(key);
  if (!value || !*value || *value == MOXTypes::defaultValue()) return nullptr;
  return value;
}

std::int64_t saturatingInt64(double value) {
  if (std::isnan(value)) return 0;
  // 2^63 is exactly representable; every double below it and at or above -2^63 fits.
  constexpr double kLimit = 9223372036854775808.0;
  if (value >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (value < -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

}  // namespace loomset::macrovalues
