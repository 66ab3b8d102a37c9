// Lifetimes of data-layer updates: an update asks to be saved by carrying a nested "wen" map
// whose "lifetime" entry is digits with an optional unit (s, m, h, d; none means milliseconds).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "loomset/Collections.h"
#include "loomset/Object.h"

namespace loomset::datalayer {

// The object at "wen" -> "lifetime" of the update as pushed, or null. Only the nested form
// counts: a top-level key literally named "wen.lifetime" is no lifetime.
ObjectPtr findLifetime(const Dictionary& update);

// Milliseconds for a lifetime text such as "5s" or "10 m", or nothing after logging why: info
// "unknown lifetime: " when the text does not match, warning "illegal number in lifetime value: "
// when the digits are no number, warning "non-positive lifetime: " for zero.
std::optional<std::int64_t> parseLifetimeText(const std::string& text);

}  // namespace loomset::datalayer
