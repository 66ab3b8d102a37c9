// What an explained lookup learns about the macro it evaluates: whether the name is known,
// whether its result was in the static cache, which rules passed while the macro's calls were
// selected, and the call that answered. Only the outermost name of a lookup is traced; the
// macros its parameters refer to are evaluated as usual.
//
// Threads: one trace belongs to one lookup on one thread.
#pragma once

#include <cstddef>
#include <vector>

#include "runtime/MOXAddRemoveSetPopulator.h"
#include "runtime/MOXIndexedRule.h"
#include "runtime/MOXMacroInfo.h"

namespace loomset {

struct MOXMacroTrace {
  bool known = false;
  bool fromStaticCache = false;
  // The call that answered (an ordinal); kNoCall when none was selected and there is no default.
  std::size_t call = MOXMacroInfo::kNoCall;
  // The passing rule that added `call`; null when `call` is the name's default.
  const MOXIndexedRule* addedBy = nullptr;
  // The rules that passed during the selection, in the order they were evaluated.
  std::vector<const MOXIndexedRule*> passedRules;

  // Records the call and finds the first passing rule that added it. `byRule` is false when no
  // rule selected a call and the name's default answered.
  void selected(std::size_t answering, bool byRule, const MOXMacroInfo& info) {
    call = answering;
    if (!byRule) return;
    for (const MOXIndexedRule* rule : passedRules) {
      auto added = info.addMacros.find(rule);
      if (added != info.addMacros.end() && added->second.contains(answering)) {
        addedBy = rule;
        return;
      }
    }
  }
};

// Selects as MOXAddRemoveMacrosPopulator does and notes each passing rule in the trace.
class MOXTracingMacrosPopulator final : public MOXAddRemoveSetPopulator {
 public:
  MOXTracingMacrosPopulator(const MOXMacroInfo& info, MOXMacroTrace& trace)
      : selecting_(info), trace_(trace) {}
  void rulePassed(const MOXIndexedRule& rule, CallSet& add, CallSet& remove) const override {
    trace_.passedRules.push_back(&rule);
    selecting_.rulePassed(rule, add, remove);
  }

 private:
  const MOXAddRemoveMacrosPopulator selecting_;
  MOXMacroTrace& trace_;
};

}  // namespace loomset
