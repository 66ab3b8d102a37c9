// Predicates that compare their operands as numbers; an integer and a floating number compare
// by value. An operand that is not entirely a number makes every comparison false.
#pragma once

#include "runtime/predicates/MOXPredicate.h"

namespace loomset {

class Number;

class MOXNumberPredicate : public MOXPredicate {
 public:
  using MOXPredicate::MOXPredicate;

 protected:
  bool evaluateNoDefaultValues(const MOXPValue& arg0, const MOXPValue& arg1,
                               const MOXParameterMap& parameters) const final;
  // `order` is -1, 0 or 1 as arg0 is less than, equal to or greater than arg1.
  virtual bool evaluateWithOrder(int order) const = 0;
};

class MOXGreaterEquals final : public MOXNumberPredicate {
 public:
  MOXGreaterEquals() : MOXNumberPredicate("_ge") {}

 protected:
  bool evaluateWithOrder(int order) const override { return order >= 0; }
};

class MOXGreaterThan final : public MOXNumberPredicate {
 public:
  MOXGreaterThan() : MOXNumberPredicate("_gt") {}

 protected:
  bool evaluateWithOrder(int order) const override { return order > 0; }
};

class MOXLessEquals final : public MOXNumberPredicate {
 public:
  MOXLessEquals() : MOXNumberPredicate("_le") {}

 protected:
  bool evaluateWithOrder(int order) const override { return order <= 0; }
};

class MOXLessThan final : public MOXNumberPredicate {
 public:
  MOXLessThan() : MOXNumberPredicate("_lt") {}

 protected:
  bool evaluateWithOrder(int order) const override { return order < 0; }
};

}  // namespace loomset
