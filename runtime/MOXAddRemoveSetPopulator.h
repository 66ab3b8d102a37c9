// What a passing rule contributes to a selection: the calls it adds and the calls it removes,
// by ordinal. Tags take every tag a rule names; macros take only the calls of one macro name.
#pragma once

#include <cstddef>

#include "runtime/MOXIdentitySet.h"
#include "runtime/MOXIndexedRule.h"
#include "runtime/MOXMacroInfo.h"

namespace loomset {

class MOXAddRemoveSetPopulator {
 public:
  using CallSet = MOXIdentitySet<std::size_t>;
  virtual ~MOXAddRemoveSetPopulator() = default;
  virtual void rulePassed(const MOXIndexedRule& rule, CallSet& add, CallSet& remove) const = 0;
};

class MOXAddRemoveTagsPopulator final : public MOXAddRemoveSetPopulator {
 public:
  void rulePassed(const MOXIndexedRule& rule, CallSet& add, CallSet& remove) const override {
    for (std::size_t tag : rule.addTags) add.insert(tag);
    for (std::size_t tag : rule.removeTags) remove.insert(tag);
  }
};

class MOXAddRemoveMacrosPopulator final : public MOXAddRemoveSetPopulator {
 public:
  explicit MOXAddRemoveMacrosPopulator(const MOXMacroInfo& info) : info_(info) {}
  void rulePassed(const MOXIndexedRule& rule, CallSet& add, CallSet& remove) const override {
    auto added = info_.addMacros.find(&rule);
    if (added != info_.addMacros.end()) {
      for (std::size_t call : added->second.items()) add.insert(call);
    }
    auto removed = info_.removeMacros.find(&rule);
    if (removed != info_.removeMacros.end()) {
      for (std::size_t call : removed->second.items()) remove.insert(call);
    }
  }

 private:
  const MOXMacroInfo& info_;
};

}  // namespace loomset
