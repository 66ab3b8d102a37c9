#include "tools/loomset/TrackHits.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace loomset::tools {

std::optional<std::string> relativeHitTime(std::string_view text, double nowSeconds) {
  constexpr std::string_view kNow = "$now";
  if (text.substr(0, kNow.size()) != kNow) return std::nullopt;
  text.remove_prefix(kNow.size());
  double offset = 0;
  if (!text.empty()) {
    if (text.size() < 3 || text.front() != '-' || text.back() != 's') return std::nullopt;
    const std::string number(text.substr(1, text.size() - 2));
    if (number.find_first_not_of("0123456789.") != std::string::npos ||
        number.find_first_of("0123456789") != 0) {
      return std::nullopt;
    }
    char* end = nullptr;
    offset = std::strtod(number.c_str(), &end);
    if (end != number.c_str() + number.size() || !std::isfinite(offset)) return std::nullopt;
  }
  char formatted[64];
  std::snprintf(formatted, sizeof formatted, "%.3f", nowSeconds - offset);
  return std::string(formatted);
}

std::optional<PLUHitMap> hitFieldsFromJson(const Json& fields, bool resolveHitTime,
                                           double nowSeconds, std::string& error) {
  if (!fields.is_object()) {
    error = "the fields must be an object, not " + describeJsonKind(fields);
    return std::nullopt;
  }
  PLUHitMap map;
  for (const auto& item : fields.items()) {
    const Json& value = item.value();
    if (value.is_null()) {
      map[item.key()] = kPLUNullMarker;
    } else if (value.is_string()) {
      const auto& text = value.get_ref<const std::string&>();
      if (resolveHitTime && item.key() == "timestamp" && text.rfind("$now", 0) == 0) {
        auto time = relativeHitTime(text, nowSeconds);
        if (!time) {
          error = "\"timestamp\" takes \"$now\" or \"$now-Ns\", not \"" + text + "\"";
          return std::nullopt;
        }
        map[item.key()] = std::move(*time);
      } else {
        map[item.key()] = text;
      }
    } else if (value.is_number()) {
      map[item.key()] = value.dump();
    } else {
      error = "\"" + item.key() + "\" must be a string, a number or null, not " +
              describeJsonKind(value);
      return std::nullopt;
    }
  }
  return map;
}

}  // namespace loomset::tools
