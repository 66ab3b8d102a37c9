#include "runtime/predicates/MOXStringPredicate.h"

#include "loomset/MOXTypes.h"

namespace loomset {

bool MOXStringPredicate::evaluateNoDefaultValues(const MOXPValue& arg0, const MOXPValue& arg1,
                                                 const MOXParameterMap& parameters) const {
  // A String Value converts to its own text; only other kinds need the general conversion.
  auto isText = [](const MOXPValue& v) {
    return v.type() == MOXPValue::String && v.has_type() && v.has_string();
  };
  if (isText(arg0) && isText(arg1))
    return evaluateWithArg0(arg0.string(), arg1.string(), parameters);
  const std::shared_ptr<String> s0 = MOXTypes::valueToString(&arg0);
  const std::shared_ptr<String> s1 = MOXTypes::valueToString(&arg1);
  if (s0 == MOXTypes::defaultString() || s1 == MOXTypes::defaultString()) return false;
  return evaluateWithArg0(s0->text(), s1->text(), parameters);
}

}  // namespace loomset
