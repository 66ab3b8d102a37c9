// The runtime's state and evaluation steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Library/Util/platform/Mutex.h"
#include "loomset/MOXRuntime.h"
#include "runtime/MOXAddRemoveSetPopulator.h"
#include "runtime/MOXCallTable.h"
#include "runtime/MOXCostBoundedCache.h"
#include "runtime/MOXEvaluationBudget.h"
#include "runtime/MOXIdentitySet.h"
#include "runtime/MOXIndexedRule.h"
#include "runtime/MOXMacroInfo.h"
#include "runtime/MOXMacroTrace.h"

namespace loomset {

// A macro result that was static, and the value its evaluation pushed.
struct MOXCachedMacro {
  MOXPValueAndStatic valueAndStatic;
  ValuePtr pushAfterEvaluate;
};

// The chain of macro names being expanded inside one top-level evaluation, how deeply that
// evaluation has nested and how many nodes it has built.
struct MOXPendingMacros {
  std::vector<std::string_view> names;
  std::size_t depth = 0;
  MOXEvaluationBudget budget;
  // Set only by an explained lookup, for its outermost name; taken by the first evaluation.
  MOXMacroTrace* trace = nullptr;

  bool contains(std::string_view name) const;
  std::string description() const;
};

class MOXRuntime::Impl {
 public:
  using CallSet = MOXIdentitySet<std::size_t>;
  using Role = MOXCallTable::Role;

  struct BoolAndStatic {
    bool value;
    bool isStatic;
  };
  struct Selection {
    std::vector<std::size_t> calls;  // ordinals
    bool isStatic;
  };

  Impl(MOXExpandedResourcePtr resource, std::shared_ptr<MOXDataLayer> dataLayer);

  void buildMacroLookup();
  static void addFunctionImplToDict(ImplementationMap& map,
                                    MOXFunctionCallImplementationPtr implementation);

  MOXPValueAndStatic evaluateMacroReferenceWithCycleDetection(const std::string& name,
                                                              MOXPendingMacros& pending);
  // Evaluates as a lookup does, afresh even when the result is cached, and fills the trace.
  MOXPValueAndStatic explainMacroReference(const std::string& name, MOXMacroTrace& trace);
  void evaluateTags(const std::string& eventName);

  BoolAndStatic evaluatePredicatesInRule(const MOXIndexedRule& rule, MOXPendingMacros& pending);
  BoolAndStatic evaluatePredicate(std::size_t call, MOXPendingMacros& pending);
  Selection calculateGenericToRunForRules(const std::vector<const MOXIndexedRule*>& rules,
                                          MOXPendingMacros& pending,
                                          const MOXAddRemoveSetPopulator& populator);
  void pushUnevaluatedValueToDataLayer(const ValuePtr& value, MOXPendingMacros& pending);
  MOXPValueAndStatic expandMacrosForValue(const ValuePtr& value, MOXPendingMacros& pending);
  MOXPValueAndStatic expandListValue(const ValuePtr& value, MOXPendingMacros& pending);
  MOXPValueAndStatic expandMapValue(const ValuePtr& value, MOXPendingMacros& pending);
  MOXPValueAndStatic expandTemplateValue(const ValuePtr& value, MOXPendingMacros& pending);
  MOXPValueAndStatic expandMacroReferenceValue(const ValuePtr& value, MOXPendingMacros& pending);
  MOXPValueAndStatic executeFunction(std::size_t call, Role role, MOXPendingMacros& pending);
  // The failure of an evaluation whose built values passed the node limit; logged once.
  MOXPValueAndStatic tooLarge(const MOXPValue& value, MOXPendingMacros& pending);
  const ImplementationMap& mapFor(Role role) const {
    return role == Role::kMacro       ? macroMap
           : role == Role::kPredicate ? predicateMap
                                      : trackingTagMap;
  }

  // Failed evaluations are recognised by the identity of the Value they hold.
  static const ValuePtr& failureValue();
  static const MOXPValueAndStatic& failure();
  // A failure that depends on where the evaluation started (nesting too deep): never cached.
  static const MOXPValueAndStatic& contextualFailure();
  bool isFailure(const MOXPValueAndStatic& result) const {
    return result.value().get() == failurePointer;
  }

  const MOXPValue* const failurePointer = failureValue().get();

  // Constant after construction.
  const MOXExpandedResourcePtr resource;
  const std::shared_ptr<MOXDataLayer> dataLayer;
  ImplementationMap trackingTagMap;
  ImplementationMap predicateMap;
  ImplementationMap macroMap;
  std::vector<MOXIndexedRule> indexedRules;  // each rule once, in resource order
  std::vector<const MOXIndexedRule*> rules;  // the same, as the selection takes them
  std::unordered_map<std::string, MOXMacroInfo, MOXKeyHash, MOXKeyEqual> macroLookup;

  // Thread-safe.
  MOXCallTable calls;  // what this runtime learned about each call, by ordinal
  MOXCostBoundedCache<std::size_t, MOXPValueAndStatic> functionCallCache;  // by call ordinal
  MOXCostBoundedCache<const MOXMacroInfo*, std::shared_ptr<const MOXCachedMacro>>
      macroEvaluationCache;

  // Held for a whole tag evaluation; re-entrant, since a tag's push may evaluate tags again.
  RecursiveMutex evaluationLock;
  mutable Mutex eventNameLock;
  std::optional<std::string> currentEventName GUARDED_BY(eventNameLock);
};

}  // namespace loomset
