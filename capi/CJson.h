// JSON across the C interface: what callers push and macro handlers answer, and what the library
// hands to tag and macro handlers.
//
// In: integers stay 64-bit integers, other numbers are floating, true and false become
// MOXBoolean, null the null object; nesting is bounded (deeper text does not parse).
// Out: members in the object model's order; floating numbers that JSON cannot hold (NaN,
// infinities) as null; text that is not UTF-8 has its bad bytes replaced.
#pragma once

#include <string>
#include <string_view>

#include "loomset/Object.h"

namespace loomset::capi {

// Null when the text is not JSON.
ObjectPtr objectFromJsonText(std::string_view json);
std::string jsonTextFromObject(const ObjectPtr& object);

}  // namespace loomset::capi
