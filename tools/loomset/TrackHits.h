// How `loomset track` turns the JSON of its "set" and "send" steps into hit fields: strings stay
// as they are, null is the null marker (nil for `set`), numbers become their JSON text (9.99,
// 3); anything else is refused. In a "send", a "timestamp" of "$now" or "$now-Ns" (N seconds,
// decimals allowed) becomes that hit time as seconds since 1970, the form the dispatcher reads.
//
// Threads: stateless; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "loomset/PLUHitMap.h"
#include "tools/loomset/StrictJson.h"

namespace loomset::tools {

// Nothing, with `error` naming the offending key, when a value is of another kind or a
// "timestamp" starting with "$now" is not of the form above.
std::optional<PLUHitMap> hitFieldsFromJson(const Json& fields, bool resolveHitTime,
                                           double nowSeconds, std::string& error);

// "$now" → now, "$now-Ns" → now − N, as decimal seconds with milliseconds; nothing for other
// text.
std::optional<std::string> relativeHitTime(std::string_view text, double nowSeconds);

}  // namespace loomset::tools
