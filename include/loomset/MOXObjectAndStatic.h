// A result together with its "static" flag: true when it follows from the container resource's
// constants and cacheable implementations alone, so it may be cached for the runtime's life.
//
// Each holder shares its object and never changes after creation; any thread may read it.
#pragma once

#include <memory>
#include <unordered_set>

#include "loomset/MOXBoolean.h"
#include "loomset/MOXPValue.h"

namespace loomset {

class MOXBooleanAndStatic {
 public:
  static MOXBooleanAndStatic booleanWithBoolean(std::shared_ptr<MOXBoolean> b, bool isStatic) {
    return MOXBooleanAndStatic(std::move(b), isStatic);
  }
  static MOXBooleanAndStatic booleanWithBool(bool b, bool isStatic) {
    return MOXBooleanAndStatic(MOXBoolean::booleanWithBool(b), isStatic);
  }
  const std::shared_ptr<MOXBoolean>& object() const { return object_; }
  bool boolValue() const { return object_ && object_->boolValue(); }
  bool isStatic() const { return isStatic_; }

 private:
  MOXBooleanAndStatic(std::shared_ptr<MOXBoolean> b, bool s)
      : object_(std::move(b)), isStatic_(s) {}
  std::shared_ptr<MOXBoolean> object_;
  bool isStatic_;
};

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

// A set of T (compared as the set's hash and equality say) with its static flag.
template <typename Set>
class MOXSetAndStatic {
 public:
  static MOXSetAndStatic setWithSet(Set set, bool isStatic) {
    return MOXSetAndStatic(std::move(set), isStatic);
  }
  const Set& set() const { return set_; }
  bool isStatic() const { return isStatic_; }

 private:
  MOXSetAndStatic(Set s, bool st) : set_(std::move(s)), isStatic_(st) {}
  Set set_;
  bool isStatic_;
};

}  // namespace loomset
