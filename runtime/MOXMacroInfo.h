// What the runtime knows about one macro name: the rules that add or remove calls of that name,
// which calls (by ordinal) each of them adds or removes, and the call used when no rule selects
// one.
#pragma once

#include <atomic>
#include <cstddef>
#include <unordered_map>

#include "runtime/MOXIdentitySet.h"
#include "runtime/MOXIndexedRule.h"

namespace loomset {

struct MOXMacroInfo {
  using CallSet = MOXIdentitySet<std::size_t>;
  static constexpr std::size_t kNoCall = static_cast<std::size_t>(-1);

  MOXIdentitySet<const MOXIndexedRule*> rules;
  std::unordered_map<const MOXIndexedRule*, CallSet> addMacros;
  std::unordered_map<const MOXIndexedRule*, CallSet> removeMacros;
  std::size_t defaultFunctionCall = kNoCall;
  // Set once a result for this name went into the macro cache; until then a lookup there cannot
  // hit and is skipped.
  std::atomic<bool> mayBeCached{false};

  void addAddMacro(std::size_t call, const MOXIndexedRule* rule) { addMacros[rule].insert(call); }
  void addRemoveMacro(std::size_t call, const MOXIndexedRule* rule) {
    removeMacros[rule].insert(call);
  }
};

}  // namespace loomset
