#include "runtime/predicates/MOXNumberPredicate.h"

#include <cmath>

#include "loomset/MOXTypes.h"

namespace loomset {

bool MOXNumberPredicate::evaluateNoDefaultValues(const MOXPValue& arg0, const MOXPValue& arg1,
                                                 const MOXParameterMap&) const {
  if (arg0.type() == MOXPValue::Integer && arg1.type() == MOXPValue::Integer && arg0.has_type() &&
      arg1.has_type()) {
    const auto a = arg0.integer(), b = arg1.integer();
    return evaluateWithOrder(a < b ? -1 : (a > b ? 1 : 0));
  }
  const std::shared_ptr<Number> x0 = MOXTypes::valueToNumber(&arg0);
  const std::shared_ptr<Number> x1 = MOXTypes::valueToNumber(&arg1);
  if (x0 == MOXTypes::defaultNumber() || x1 == MOXTypes::defaultNumber()) return false;
  // Nothing is ordered against a number that is not one.
  if ((x0->isFloatingKind() && std::isnan(x0->doubleValue())) ||
      (x1->isFloatingKind() && std::isnan(x1->doubleValue()))) {
    return false;
  }
  return evaluateWithOrder(x0->compare(*x1));
}

}  // namespace loomset
