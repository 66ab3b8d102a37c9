// The base of the nine predicates. A predicate compares "arg0" (the value under test) with
// "arg1" (the value to test against) and answers a Boolean Value. Any parameter that is
// MOXTypes::defaultValue() (a failed macro), or a missing operand, makes the answer false.
// Predicates are cacheable and stateless.
#pragma once

#include <string>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXPredicate : public MOXFunctionCallImplementation {
 public:
  static const std::string& arg0Key();  // "arg0"
  static const std::string& arg1Key();  // "arg1"

  explicit MOXPredicate(std::string functionId);

  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) final;

 protected:
  virtual bool evaluateNoDefaultValues(const MOXPValue& arg0, const MOXPValue& arg1,
                                       const MOXParameterMap& parameters) const = 0;
};

}  // namespace loomset
