// "_reg": a capture group of the first match of the ICU regular expression "arg1" in "arg0".
// "group" picks the group (default 1; 0 is the whole match); "ignore_case" true matches without
// regard to case. Cacheable.
//
// Failures answer MOXTypes::defaultValue(). Silently: an operand that is
// MOXTypes::defaultValue(), a negative group, no match, a group beyond the pattern's. With an
// error line: a group that is not a number ("Invalid group number: "), a pattern that does not
// compile ("Invalid regex pattern: "), a group that took no part in the match, a match that ran
// out of time (patterns that backtrack without end must not stall the evaluating thread).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXRegexGroup final : public MOXFunctionCallImplementation {
 public:
  // The work one match may take, in steps of ICU's match engine.
  static constexpr int kMatchTimeLimit = 200;

  static const std::string& functionId();     // "_reg"
  static const std::string& toMatchKey();     // "arg0"
  static const std::string& regexKey();       // "arg1"
  static const std::string& ignoreCaseKey();  // "ignore_case"
  static const std::string& groupKey();       // "group"

  // The text of group `group` of the first match, or nothing (logging as described above).
  static std::optional<std::string> firstMatchGroup(std::string_view subject,
                                                    std::string_view pattern, bool ignoreCase,
                                                    int group);

  MOXRegexGroup();
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
