#include "runtime/predicates/MOXRegex.h"

#include <memory>

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "loomset/MOXTypes.h"

namespace loomset {

const std::string& MOXRegex::ignoreCaseKey() {
  static const std::string key = "ignore_case";
  return key;
}

bool MOXRegex::evaluateWithArg0(std::string_view arg0, std::string_view arg1,
                                const MOXParameterMap& parameters) const {
  bool ignoreCase = false;
  if (const ValuePtr* flag = parameters.find(ignoreCaseKey())) {
    ignoreCase = MOXTypes::valueToBoolean(*flag)->boolValue();
  }
  if (arg1.empty()) return true;

  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError;
  const icu::UnicodeString pattern = icu::UnicodeString::fromUTF8(
      icu::StringPiece(arg1.data(), static_cast<int32_t>(arg1.size())));
  std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
      pattern, ignoreCase ? UREGEX_CASE_INSENSITIVE : 0, parseError, status));
  if (U_FAILURE(status) || !compiled) return false;

  const icu::UnicodeString subject = icu::UnicodeString::fromUTF8(
      icu::StringPiece(arg0.data(), static_cast<int32_t>(arg0.size())));
  std::unique_ptr<icu::RegexMatcher> matcher(compiled->matcher(subject, status));
  if (U_FAILURE(status) || !matcher) return false;
  matcher->setTimeLimit(kMatchTimeLimit, status);
  const bool found = matcher->find(0, status);
  return U_SUCCESS(status) && found;
}

}  // namespace loomset
