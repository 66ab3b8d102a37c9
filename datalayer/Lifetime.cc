#include "datalayer/Lifetime.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <limits>
#include <memory>

#include "loomset/MOXDataLayer.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"

namespace loomset::datalayer {
namespace {

// ICU rather than std::regex: \d and \s follow Unicode, so digits of other scripts match the
// pattern and are then refused by the number reader, as the messages distinguish.
const icu::RegexPattern* lifetimePattern() {
  static const std::unique_ptr<icu::RegexPattern> pattern = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexPattern> p(icu::RegexPattern::compile(
        icu::UnicodeString::fromUTF8("^(\\d+)\\s*([smhd]?)$"), 0, status));
    if (U_FAILURE(status)) p.reset();
    return p;
  }();
  return pattern.get();
}

std::int64_t unitMillis(const std::string& unit) {
  if (unit == "s") return 1000;
  if (unit == "m") return 60000;
  if (unit == "h") return 3600000;
  if (unit == "d") return 86400000;
  return 1;
}

struct Match {
  std::string digits;
  std::string unit;
};

std::optional<Match> matchLifetime(const std::string& text) {
  const icu::RegexPattern* pattern = lifetimePattern();
  if (!pattern) return std::nullopt;
  const icu::UnicodeString input = icu::UnicodeString::fromUTF8(text);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(input, status));
  if (U_FAILURE(status) || !matcher->find(status) || U_FAILURE(status)) return std::nullopt;
  Match match;
  matcher->group(1, status).toUTF8String(match.digits);
  matcher->group(2, status).toUTF8String(match.unit);
  if (U_FAILURE(status)) return std::nullopt;
  return match;
}

}  // namespace

ObjectPtr findLifetime(const Dictionary& update) {
  const Dictionary* wen = asDictionary(update.objectForKey(std::string_view("wen")));
  return wen ? wen->objectForKey(std::string_view("lifetime")) : nullptr;
}

std::optional<std::int64_t> parseLifetimeText(const std::string& text) {
  const auto match = matchLifetime(text);
  if (!match) {
    MOXLog::info("unknown lifetime: " + text);
    return std::nullopt;
  }
  const auto number = MOXTypes::numberWithString(match->digits);
  if (!number) {
    MOXLog::warning("illegal number in lifetime value: " + text);
    return std::nullopt;
  }
  const std::int64_t amount = number->longLongValue();
  if (amount <= 0) {
    MOXLog::warning("non-positive lifetime: " + text);
    return std::nullopt;
  }
  // Saturate rather than wrap: a huge lifetime means "keep", never a random or negative one.
  std::int64_t millis;
  if (__builtin_mul_overflow(amount, unitMillis(match->unit), &millis)) {
    millis = std::numeric_limits<std::int64_t>::max();
  }
  return millis;
}

}  // namespace loomset::datalayer

namespace loomset {

std::optional<std::int64_t> MOXDataLayer::parseLifetime(const ObjectPtr& lifetime) {
  if (!lifetime) return std::nullopt;
  const String* text = asString(lifetime);
  return datalayer::parseLifetimeText(text ? text->text() : lifetime->description());
}

}  // namespace loomset
