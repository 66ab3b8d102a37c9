#include "foundation/NumberScanning.h"

#include <charconv>
#include <limits>
#include <system_error>

namespace loomset::number_scanning {

namespace {

// Length of the white-space character at `pos`, or 0. Besides the ASCII blanks and line breaks
// this knows the Unicode space separators an application may paste in (no-break space, the
// typographic spaces, the ideographic space), which text fields commonly produce.
std::size_t whiteSpaceLength(std::string_view t, std::size_t pos) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(t[pos + i]); };
  const std::size_t left = t.size() - pos;
  const unsigned char c = at(0);
  if (c == ' ' || (c >= '\t' && c <= '\r')) return 1;
  if (c == 0xC2 && left >= 2 && (at(1) == 0x85 || at(1) == 0xA0)) return 2;
  if (left >= 3) {
    if (c == 0xE1 && at(1) == 0x9A && at(2) == 0x80) return 3;  // U+1680
    if (c == 0xE3 && at(1) == 0x80 && at(2) == 0x80) return 3;  // U+3000
    if (c == 0xE2 && at(1) == 0x80 &&
        (at(2) <= 0x8A || at(2) == 0xA8 || at(2) == 0xA9 || at(2) == 0xAF)) {
      return 3;  // U+2000..U+200A, U+2028, U+2029, U+202F
    }
    if (c == 0xE2 && at(1) == 0x81 && at(2) == 0x9F) return 3;  // U+205F
  }
  return 0;
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

std::size_t skipDigits(std::string_view t, std::size_t pos) {
  while (pos < t.size() && isDigit(t[pos])) ++pos;
  return pos;
}

// Signed decimal integer filling the rest of the text, saturating like the platform scanner.
std::optional<std::int64_t> scanInteger(std::string_view t, std::size_t pos) {
  bool negative = false;
  if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) negative = t[pos++] == '-';
  if (pos == t.size()) return std::nullopt;
  // Accumulate as a negative magnitude: it has room for INT64_MIN.
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t acc = 0;
  bool saturated = false;
  for (; pos < t.size(); ++pos) {
    if (!isDigit(t[pos])) return std::nullopt;
    const int digit = t[pos] - '0';
    if (saturated) continue;
    if (acc < (kMin + digit) / 10) {
      saturated = true;
    } else {
      acc = acc * 10 - digit;
    }
  }
  if (saturated) return negative ? kMin : std::numeric_limits<std::int64_t>::max();
  if (negative) return acc;
  return acc == kMin ? std::numeric_limits<std::int64_t>::max() : -acc;
}

// A decimal floating number filling the rest of the text: sign, digits with an optional point
// (at least one digit on either side), optional exponent. The C library would also take "inf",
// "nan", "infinity" and hexadecimal floats; those are refused on purpose: container texts such as
// "nan" or "0x1p3" are words and identifiers, not numbers, and must not turn into numbers that
// then compare or convert surprisingly. The reading does not depend on the process locale.
std::optional<double> scanDouble(std::string_view t, std::size_t pos) {
  const std::size_t start = pos;
  bool negative = false;
  if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) negative = t[pos++] == '-';
  const std::size_t numberStart = pos;

  const std::size_t intEnd = skipDigits(t, pos);
  std::size_t fracStart = intEnd, fracEnd = intEnd;
  if (intEnd < t.size() && t[intEnd] == '.') {
    fracStart = intEnd + 1;
    fracEnd = skipDigits(t, fracStart);
  }
  if (intEnd == numberStart && fracEnd == fracStart) return std::nullopt;  // no digit at all
  pos = fracEnd;

  long long exponent = 0;
  if (pos < t.size() && (t[pos] == 'e' || t[pos] == 'E')) {
    ++pos;
    bool expNegative = false;
    if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) expNegative = t[pos++] == '-';
    const std::size_t expDigits = pos;
    for (; pos < t.size() && isDigit(t[pos]); ++pos) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (t[pos] - '0');
    }
    if (pos == expDigits) return std::nullopt;
    if (expNegative) exponent = -exponent;
  }
  if (pos != t.size()) return std::nullopt;

  double value = 0;
  const char* first = t.data() + (t[start] == '+' ? start + 1 : start);
  const auto result = std::from_chars(first, t.data() + t.size(), value);
  if (result.ec == std::errc() && result.ptr == t.data() + t.size()) return value;
  if (result.ec != std::errc::result_out_of_range) return std::nullopt;

  // Too large or too small for a double: saturate to infinity or to zero, as strtod does. The
  // magnitude is the exponent plus the place of the first significant digit.
  long long magnitude = exponent;
  bool found = false;
  for (std::size_t i = numberStart; i < intEnd && !found; ++i) {
    if (t[i] != '0') {
      magnitude += static_cast<long long>(intEnd - i);
      found = true;
    }
  }
  for (std::size_t i = fracStart; i < fracEnd && !found; ++i) {
    if (t[i] != '0') {
      magnitude -= static_cast<long long>(i - fracStart);
      found = true;
    }
  }
  const double saturated = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  return negative ? -saturated : saturated;
}

}  // namespace

std::optional<ScannedNumber> scanWholeNumber(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t n = whiteSpaceLength(text, pos);
    if (n == 0) break;
    pos += n;
  }
  if (pos == text.size()) return std::nullopt;
  if (auto integer = scanInteger(text, pos)) return ScannedNumber{true, *integer, 0.0};
  if (auto floating = scanDouble(text, pos)) return ScannedNumber{false, 0, *floating};
  return std::nullopt;
}

}  // namespace loomset::number_scanning
