// The other result holders with a "static" flag (see MOXPValueAndStatic): a boolean, and a set.
// Rule evaluation keeps its flags in plain structs of its own (MOXRuntime::Impl), which need no
// allocation; these are the shapes for code that hands such results around.
//
// Each holder shares its object and never changes after creation; any thread may read it.
#pragma once

#include <memory>
#include <utility>

#include "loomset/MOXBoolean.h"

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
