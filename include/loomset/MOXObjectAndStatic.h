// A Value together with its "static" flag: true when it follows from the container resource's
// constants and cacheable implementations alone, so it may be cached for the runtime's life.
// Value lookups answer one (MOXRuntime::evaluateMacroReference).
//
// A holder shares its Value and never changes after creation; any thread may read it.
#pragma once

#include <memory>
#include <utility>

#include "loomset/MOXPValue.h"

namespace loomset {

class MOXPValueAndStatic {
 public:
  static MOXPValueAndStatic valueWithValue(ValuePtr value, bool isStatic) {
    return MOXPValueAndStatic(std::move(value), isStatic);
  }
  const ValuePtr& value() const& { return value_; }
  // From a temporary the value is moved out rather than shared once more.
  ValuePtr value() && { return std::move(value_); }
  const ValuePtr& object() const { return value_; }
  bool isStatic() const { return isStatic_; }

 private:
  MOXPValueAndStatic(ValuePtr v, bool s) : value_(std::move(v)), isStatic_(s) {}
  ValuePtr value_;
  bool isStatic_;
};

}  // namespace loomset
