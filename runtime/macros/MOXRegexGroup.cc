#include "runtime/macros/MOXRegexGroup.h"

#include <cstdint>
#include <limits>
#include <memory>

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "runtime/macros/MOXMacroValues.h"

namespace loomset {
namespace {

icu::UnicodeString unicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

int groupNumber(const Number& number) {
  const std::int64_t g = number.longLongValue();
  // A group beyond the 32-bit range exists in no pattern; clamping keeps it from wrapping
  // around onto a group that does.
  if (g > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (g < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(g);
}

}  // namespace

const std::string& MOXRegexGroup::functionId() {
  static const std::string id = "_reg";
  return id;
}
const std::string& MOXRegexGroup::toMatchKey() {
  static const std::string key = "arg0";
  return key;
}
const std::string& MOXRegexGroup::regexKey() {
  static const std::string key = "arg1";
  return key;
}
const std::string& MOXRegexGroup::ignoreCaseKey() {
  static const std::string key = "ignore_case";
  return key;
}
const std::string& MOXRegexGroup::groupKey() {
  static const std::string key = "group";
  return key;
}

MOXRegexGroup::MOXRegexGroup()
    : MOXFunctionCallImplementation(functionId(), {toMatchKey(), regexKey()}) {}

std::optional<std::string> MOXRegexGroup::firstMatchGroup(std::string_view subject,
                                                          std::string_view pattern, bool ignoreCase,
                                                          int group) {
  if (group < 0) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError;
  std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
      unicode(pattern), ignoreCase ? UREGEX_CASE_INSENSITIVE : 0, parseError, status));
  if (U_FAILURE(status) || !compiled) {
    MOXLog::error("Invalid regex pattern: " + std::string(pattern));
    return std::nullopt;
  }

  const icu::UnicodeString text = unicode(subject);
  std::unique_ptr<icu::RegexMatcher> matcher(compiled->matcher(text, status));
  if (U_FAILURE(status) || !matcher) return std::nullopt;
  matcher->setTimeLimit(kMatchTimeLimit, status);
  const bool found = matcher->find(0, status);
  if (status == U_REGEX_TIME_OUT) {
    MOXLog::error("Regex match took too long: " + std::string(pattern));
    return std::nullopt;
  }
  if (U_FAILURE(status) || !found || group > matcher->groupCount()) return std::nullopt;

  const int32_t start = matcher->start(group, status);
  if (U_FAILURE(status) || start < 0) {
    MOXLog::error("Regex group " + std::to_string(group) + " took no part in the match of " +
                  std::string(pattern));
    return std::nullopt;
  }
  const int32_t end = matcher->end(group, status);
  if (U_FAILURE(status) || end < start) return std::nullopt;
  std::string out;
  text.tempSubStringBetween(start, end).toUTF8String(out);
  return out;
}

ValuePtr MOXRegexGroup::evaluate(const MOXParameterMap& parameters) {
  const ValuePtr* subject = macrovalues::presentParameter(parameters, toMatchKey());
  const ValuePtr* pattern = macrovalues::presentParameter(parameters, regexKey());
  if (!subject || !pattern) return MOXTypes::defaultValue();

  bool ignoreCase = false;
  if (const ValuePtr* flag = parameters.find(ignoreCaseKey())) {
    ignoreCase = MOXTypes::valueToBoolean(*flag)->boolValue();
  }
  int group = 1;
  if (const ValuePtr* groupValue = parameters.find(groupKey())) {
    const std::shared_ptr<Number> number = MOXTypes::valueToNumber(*groupValue);
    if (number == MOXTypes::defaultNumber()) {
      MOXLog::error("Invalid group number: " + macrovalues::text(*groupValue));
      return MOXTypes::defaultValue();
    }
    group = groupNumber(*number);
  }

  std::optional<std::string> match =
      firstMatchGroup(macrovalues::text(*subject), macrovalues::text(*pattern), ignoreCase, group);
  if (!match) return MOXTypes::defaultValue();
  return macrovalues::stringValue(std::move(*match));
}

}  // namespace loomset
