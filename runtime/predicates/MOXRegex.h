// "_re": true when the ICU regular expression "arg1" matches somewhere in "arg0" (unanchored),
// case-insensitively when "ignore_case" converts to true. An empty pattern always matches; a
// pattern that does not compile never does.
#pragma once

#include <string>

#include "runtime/predicates/MOXStringPredicate.h"

namespace loomset {

class MOXRegex final : public MOXStringPredicate {
 public:
  static const std::string& ignoreCaseKey();  // "ignore_case"
  // Bounds the work of one match (in steps of ICU's match engine) so that a pattern that
  // backtracks catastrophically cannot stall the evaluating thread; a match that runs out of
  // time counts as no match.
  static constexpr int kMatchTimeLimit = 200;

  MOXRegex() : MOXStringPredicate("_re") {}

 protected:
  bool evaluateWithArg0(std::string_view arg0, std::string_view arg1,
                        const MOXParameterMap& parameters) const override;
};

}  // namespace loomset
