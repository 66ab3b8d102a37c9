#include "analytics/model/PLUSampling.h"

#include <charconv>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "loomset/PLUFields.h"

namespace loomset {
namespace {

std::uint32_t hashStep(std::uint32_t h, std::uint32_t c) {
  h = ((h << 6) & 0x0FFFFFFFu) + c + (c << 14);
  const std::uint32_t g = h & 0x0FE00000u;
  if (g != 0) h ^= g >> 21;
  return h;
}

bool isAscii(std::string_view text) {
  for (unsigned char ch : text) {
    if (ch >= 0x80) return false;
  }
  return true;
}

// Client ids are ASCII; the only multi-unit character there is CR LF.
std::uint32_t asciiHash(std::string_view text) {
  std::uint32_t h = 0;
  for (std::size_t i = text.size(); i-- > 0;) {
    std::uint32_t c = static_cast<unsigned char>(text[i]);
    if (c == '\n' && i > 0 && text[i - 1] == '\r') {
      c = '\r';
      --i;
    }
    h = hashStep(h, c);
  }
  return h;
}

icu::BreakIterator* characterIterator() {
  thread_local std::unique_ptr<icu::BreakIterator> iterator;
  thread_local bool failed = false;
  if (!iterator && !failed) {
    UErrorCode status = U_ZERO_ERROR;
    iterator.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) {
      iterator.reset();
      failed = true;
    }
  }
  return iterator.get();
}

std::uint32_t unicodeHash(std::string_view text) {
  const icu::UnicodeString units = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
  std::uint32_t h = 0;
  icu::BreakIterator* it = characterIterator();
  if (!it) {
    // Without segmentation data, code points are the closest thing to characters.
    for (std::int32_t i = units.length(); i > 0;) {
      i = units.moveIndex32(i, -1);
      h = hashStep(h, units.charAt(i));
    }
    return h;
  }
  it->setText(units);
  it->last();
  for (std::int32_t start = it->previous(); start != icu::BreakIterator::DONE;
       start = it->previous()) {
    h = hashStep(h, units.charAt(start));
  }
  return h;
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::uint32_t PLUSampling::qzHash(std::string_view utf8) {
  if (utf8.empty()) return 1;
  return isAscii(utf8) ? asciiHash(utf8) : unicodeHash(utf8);
}

std::optional<double> PLUSampling::parseSampleRate(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Plain decimal notation only: from_chars alone would also take "inf", "nan" and hex forms.
  std::size_t i = 0, digits = 0;
  while (i < text.size() && isDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    const std::size_t expStart = j;
    while (j < text.size() && isDigit(text[j])) ++j;
    if (j == expStart) return std::nullopt;
    i = j;
  }
  if (i != text.size()) return std::nullopt;
  double value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return negative ? -value : value;
}

bool PLUSampling::shouldSampleOut(const PLUHitMap& hit) {
  const auto rate = hit.find(kPLUSampleRate);
  if (rate == hit.end() || !rate->second) return false;
  const auto parsed = parseSampleRate(*rate->second);
  if (!parsed) return false;
  const auto cid = hit.find(kPLUClientId);
  const std::string_view clientId =
      cid != hit.end() && cid->second ? std::string_view(*cid->second) : std::string_view();
  return isSampledOut(qzHash(clientId), *parsed);
}

}  // namespace loomset
