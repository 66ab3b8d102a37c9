// Small helpers the built-in macros share for reading parameters and making results.
//
// Stateless; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "loomset/MOXPValue.h"
#include "loomset/MOXParameterMap.h"

namespace loomset::macrovalues {

// The text form of a Value (MOXTypes::valueToString). A String Value is its own text, which
// spares the detour through an object on the paths that run per event.
std::string text(const ValuePtr& value);
// True when the Value holds its text directly, so that `value->string()` is its text form.
inline bool isPlainString(const MOXPValue& value) {
  return value.type() == MOXPValue::String && value.has_type() && value.has_string();
}

// A new String Value.
ValuePtr stringValue(std::string text);
// A new Integer Value.
ValuePtr integerValue(std::int64_t number);
// A new Boolean Value.
ValuePtr booleanValue(bool flag);
// A text handed back by the platform layer, where the empty text means the platform knows none:
// that converts as a missing text does (MOXTypes::defaultValue() with the conversion's error).
ValuePtr platformText(const std::string& text);

// The parameter under `key`, or null when it is absent or is MOXTypes::defaultValue() itself.
const ValuePtr* presentParameter(const MOXParameterMap& parameters, std::string_view key);

// A double converted to a 64-bit integer by truncation toward zero, saturating at the limits
// instead of overflowing; NaN gives 0.
std::int64_t saturatingInt64(double value);

}  // namespace loomset::macrovalues
