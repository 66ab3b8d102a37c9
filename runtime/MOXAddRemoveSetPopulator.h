// What a passing rule contributes to a selection: the calls it adds and the calls it removes.
// Tags take every tag a rule names; macros take only the calls of one macro name.
#pragma once

#include "loomset/MOXExpandedRule.h"
#include "runtime/MOXIdentitySet.h"
#include "runtime/MOXMacroInfo.h"

namespace loomset {

class MOXAddRemoveSetPopulator {
 public:
  using CallSet = MOXIdentitySet<MOXExpandedFunctionCall>;
  virtual ~MOXAddRemoveSetPopulator() = default;
  virtual void rulePassed(const MOXExpandedRule& rule, CallSet& add, CallSet& remove) const = 0;
};

class MOXAddRemoveTagsPopulator final : public MOXAddRemoveSetPopulator {
 public:
  void rulePassed(const MOXExpandedRule& rule, CallSet& add, CallSet& remove) const override {
    for (const auto& tag : rule.addTags()) add.insert(tag.get());
    for (const auto& tag : rule.removeTags()) remove.insert(tag.get());
  }
};

class MOXAddRemoveMacrosPopulator final : public MOXAddRemoveSetPopulator {
 public:
  explicit MOXAddRemoveMacrosPopulator(const MOXMacroInfo& info) : info_(info) {}
  void rulePassed(const MOXExpandedRule& rule, CallSet& add, CallSet& remove) const override {
    auto added = info_.addMacros.find(&rule);
    if (added != info_.addMacros.end()) {
      for (auto* call : added->second.items()) add.insert(call);
    }
    auto removed = info_.removeMacros.find(&rule);
    if (removed != info_.removeMacros.end()) {
      for (auto* call : removed->second.items()) remove.insert(call);
    }
  }

 private:
  const MOXMacroInfo& info_;
};

}  // namespace loomset
