#include "analytics/dispatch/PLUPayload.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "loomset/PLUFields.h"

namespace loomset {
namespace {

bool staysUnencoded(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~' || c == '\'';
}

// Appends `text` percent-encoded (a space as "+"), copying runs that need no escape at once.
void appendPercentEncoded(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (staysUnencoded(c)) continue;
    out.append(text.data() + run, i - run);
    if (c == ' ') {
      out.push_back('+');
    } else {
      const char escaped[3] = {'%', kHex[c >> 4], kHex[c & 0x0F]};
      out.append(escaped, 3);
    }
    run = i + 1;
  }
  out.append(text.data() + run, text.size() - run);
}

// Appends "key=value" (or the key alone for an empty value), the key without its leading "&".
void appendParameter(std::string& out, std::string_view key, std::string_view value) {
  if (!key.empty() && key.front() == '&') key.remove_prefix(1);
  appendPercentEncoded(out, key);
  if (!value.empty()) {
    out.push_back('=');
    appendPercentEncoded(out, value);
  }
}

}  // namespace

std::string plu_percentEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  appendPercentEncoded(out, text);
  return out;
}

std::string plu_encodeParameter(std::string_view key, std::string_view value) {
  std::string out;
  out.reserve(key.size() + value.size() + 8);
  appendParameter(out, key, value);
  return out;
}

std::int64_t plu_wholeMillis(double seconds) {
  if (!std::isfinite(seconds)) return 0;
  // A stored time may come from an old or damaged file: clamped, the "&qt" difference always fits.
  seconds = std::clamp(seconds, -kPLUMaxHitTimeSeconds, kPLUMaxHitTimeSeconds);
  return static_cast<std::int64_t>(std::llround(seconds * 1000.0));
}

std::string plu_parametersForHit(const PLUStoredHit& hit, double nowSeconds) {
  std::string out;
  std::size_t size = 0;
  for (const auto& [key, value] : hit.parameters) size += key.size() + (value ? value->size() : 0);
  out.reserve(size + size / 4 + 64);
  // Each parameter goes straight into the text, "&" between two.
  auto append = [&out](std::string_view key, std::string_view value) {
    if (!out.empty()) out.push_back('&');
    appendParameter(out, key, value);
  };
  const PLUHitValue* cacheBuster = nullptr;
  for (const auto& [key, value] : hit.parameters) {
    if (key.empty() || key.front() != '&') continue;
    if (key == kPLUCacheBuster) {
      cacheBuster = &value;
      continue;
    }
    if (!value) continue;  // the null marker masks a field; it is never sent
    append(key, *value);
  }
  const double hitTime = hit.timestamp.value_or(nowSeconds);
  const std::int64_t hitMillis = plu_wholeMillis(hitTime);
  // "%llu" of a time before 1970 would be a huge number; such a clock is wrong, not the hit.
  append(kPLUHitTime, std::to_string(hitMillis < 0 ? 0 : hitMillis));
  const std::int64_t queueMillis = plu_wholeMillis(nowSeconds) - hitMillis;
  if (queueMillis > 0) append(kPLUQueueTime, std::to_string(queueMillis));
  if (cacheBuster && *cacheBuster) append(kPLUCacheBuster, **cacheBuster);
  return out;
}

std::string plu_buildPayload(const std::vector<std::string>& hitTexts, std::uint32_t maxHitSize) {
  std::string out;
  bool first = true;
  for (const std::string& text : hitTexts) {
    if (text.empty() || (maxHitSize != 0 && text.size() > maxHitSize)) continue;
    if (!first) out.push_back('\n');
    out += text;
    first = false;
  }
  return out;
}

std::optional<double> plu_parseHitTime(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const std::string copy(text);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(value)) return std::nullopt;
  if (std::fabs(value) > kPLUMaxHitTimeSeconds) return std::nullopt;
  return value;
}

std::string plu_formatHitTime(double secondsSince1970) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", secondsSince1970);
  return text;
}

}  // namespace loomset
