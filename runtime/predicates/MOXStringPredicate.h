// Predicates that compare their operands as text (case-sensitive and exact). "_cn", "_ew", "_sw"
// (and "_re") hold for an empty "arg1"; "_eq" holds only for the same text.
#pragma once

#include <string>
#include <string_view>

#include "runtime/predicates/MOXPredicate.h"

namespace loomset {

class MOXStringPredicate : public MOXPredicate {
 public:
  using MOXPredicate::MOXPredicate;

 protected:
  bool evaluateNoDefaultValues(const MOXPValue& arg0, const MOXPValue& arg1,
                               const MOXParameterMap& parameters) const final;
  virtual bool evaluateWithArg0(std::string_view arg0, std::string_view arg1,
                                const MOXParameterMap& parameters) const = 0;
};

class MOXContains final : public MOXStringPredicate {
 public:
  MOXContains() : MOXStringPredicate("_cn") {}

 protected:
  bool evaluateWithArg0(std::string_view arg0, std::string_view arg1,
                        const MOXParameterMap&) const override {
    return arg1.empty() || arg0.find(arg1) != std::string_view::npos;
  }
};

class MOXEndsWith final : public MOXStringPredicate {
 public:
  MOXEndsWith() : MOXStringPredicate("_ew") {}

 protected:
  bool evaluateWithArg0(std::string_view arg0, std::string_view arg1,
                        const MOXParameterMap&) const override {
    return arg0.size() >= arg1.size() && arg0.substr(arg0.size() - arg1.size()) == arg1;
  }
};

class MOXEquals final : public MOXStringPredicate {
 public:
  MOXEquals() : MOXStringPredicate("_eq") {}

 protected:
  bool evaluateWithArg0(std::string_view arg0, std::string_view arg1,
                        const MOXParameterMap&) const override {
    return arg0 == arg1;
  }
};

class MOXStartsWith final : public MOXStringPredicate {
 public:
  MOXStartsWith() : MOXStringPredicate("_sw") {}

 protected:
  bool evaluateWithArg0(std::string_view arg0, std::string_view arg1,
                        const MOXParameterMap&) const override {
    return arg0.substr(0, arg1.size()) == arg1;
  }
};

}  // namespace loomset
