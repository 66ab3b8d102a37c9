// The wire text of stored hits: URL-encoded "name=value" pieces joined with "&", the hit time
// ("&ht") and queue time ("&qt") appended, the cache buster ("&z") last; and the body of a request
// carrying several hits, one hit per line.
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/store/PLUDataStore.h"
#include "loomset/PLUHitMap.h"

namespace loomset {

// UTF-8 percent-encoding: ASCII letters, digits, "-", "_", ".", "~" and "'" stay, a space becomes
// "+", every other byte becomes "%" and two upper-case hex digits.
std::string plu_percentEncode(std::string_view text);

// The encoded name without its leading "&"; an empty value gives the name alone (no "=").
std::string plu_encodeParameter(std::string_view key, std::string_view value);

// The hit's wire text at `nowSeconds` (seconds since 1970). Only keys beginning with "&" are sent;
// null markers are skipped. A hit without a time counts as made now.
std::string plu_parametersForHit(const PLUStoredHit& hit, double nowSeconds);

// Joins the texts of one request with a line feed, leaving out empty texts and, when
// `maxHitSize` is not 0, texts longer than it.
std::string plu_buildPayload(const std::vector<std::string>& hitTexts, std::uint32_t maxHitSize);

// No clock reads more than this many seconds from 1970 (some 30,000 years); larger hit times are
// refused when read and clamped when stored ones are sent, so no time in milliseconds overflows.
inline constexpr double kPLUMaxHitTimeSeconds = 1e12;
// A hit's "timestamp" entry: seconds since 1970 as decimal text. Nothing when it is not one
// number, not finite, or beyond kPLUMaxHitTimeSeconds either way.
std::optional<double> plu_parseHitTime(std::string_view text);
// The text `plu_parseHitTime` reads back, to the millisecond.
std::string plu_formatHitTime(double secondsSince1970);

// Whole milliseconds of a time in seconds since 1970 (nearest, so that a time that came from
// milliseconds gives them back exactly).
std::int64_t plu_wholeMillis(double seconds);

}  // namespace loomset
