// What the runtime knows about one macro name: the rules that add or remove calls of that name,
// which calls each of them adds or removes, and the call used when no rule selects one.
#pragma once

#include <atomic>
#include <unordered_map>
#include <vector>

#include "loomset/MOXExpandedFunctionCall.h"
#include "loomset/MOXExpandedRule.h"
#include "runtime/MOXIdentitySet.h"

namespace loomset {

struct MOXMacroInfo {
  using CallSet = MOXIdentitySet<MOXExpandedFunctionCall>;

  MOXIdentitySet<const MOXExpandedRule> rules;
  std::unordered_map<const MOXExpandedRule*, CallSet> addMacros;
  std::unordered_map<const MOXExpandedRule*, CallSet> removeMacros;
  MOXExpandedFunctionCall* defaultFunctionCall = nullptr;
  // Set once a result for this name went into the macro cache; until then a lookup there cannot
  // hit and is skipped.
  std::atomic<bool> mayBeCached{false};

  void addAddMacro(MOXExpandedFunctionCall* call, const MOXExpandedRule* rule) {
    addMacros[rule].insert(call);
  }
  void addRemoveMacro(MOXExpandedFunctionCall* call, const MOXExpandedRule* rule) {
    removeMacros[rule].insert(call);
  }
};

}  // namespace loomset
