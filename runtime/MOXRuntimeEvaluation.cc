// Evaluation of rules, macros, values and function calls.
#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "runtime/MOXRuntimeImpl.h"
#include "runtime/MOXSharedValueBuilder.h"
#include "values/MOXResourceUtilSteps.h"
#include "values/MOXValueEscapeUtil.h"

namespace loomset {
namespace {

// Restores the event name of an enclosing pass (none outside one) when a pass ends, also when an
// implementation's exception ends it.
class EventNameScope {
 public:
  EventNameScope(MOXRuntime::Impl& impl, const std::string& name) : impl_(impl) {
    MutexLock lock(impl_.eventNameLock);
    previous_ = std::move(impl_.currentEventName);
    impl_.currentEventName = name;
  }
  ~EventNameScope() {
    MutexLock lock(impl_.eventNameLock);
    impl_.currentEventName = std::move(previous_);
  }
  EventNameScope(const EventNameScope&) = delete;
  EventNameScope& operator=(const EventNameScope&) = delete;

 private:
  MOXRuntime::Impl& impl_;
  std::optional<std::string> previous_;
};

class DepthScope {
 public:
  explicit DepthScope(MOXPendingMacros& pending) : pending_(pending) { ++pending_.depth; }
  ~DepthScope() { --pending_.depth; }
  bool exceeded() const { return pending_.depth > MOXRuntime::kMaxEvaluationDepth; }
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;

 private:
  MOXPendingMacros& pending_;
};

std::size_t serializedSize(const ValuePtr& value) {
  return value ? value->ByteSizeLong() : 0;
}

}  // namespace

bool MOXPendingMacros::contains(std::string_view name) const {
  for (std::string_view pending : names) {
    if (MOXParameterMap::sameKey(pending, name)) return true;
  }
  return false;
}

std::string MOXPendingMacros::description() const {
  std::string text = "{(";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += ", ";
    text += names[i];
  }
  return text + ")}";
}

const ValuePtr& MOXRuntime::Impl::failureValue() {
  // Equal to MOXTypes::defaultValue() but a distinct object, so that an implementation that
  // answers defaultValue() is never mistaken for a failed evaluation.
  static const ValuePtr value = std::make_shared<const MOXPValue>(*MOXTypes::defaultValue());
  return value;
}

const MOXPValueAndStatic& MOXRuntime::Impl::failure() {
  static const MOXPValueAndStatic value = MOXPValueAndStatic::valueWithValue(failureValue(), true);
  return value;
}

const MOXPValueAndStatic& MOXRuntime::Impl::contextualFailure() {
  static const MOXPValueAndStatic value = MOXPValueAndStatic::valueWithValue(failureValue(), false);
  return value;
}

MOXPValueAndStatic MOXRuntime::Impl::evaluateMacroReferenceWithCycleDetection(
    const std::string& name, MOXPendingMacros& pending) {
  MOXMacroTrace* const trace = pending.trace;
  if (trace) pending.trace = nullptr;  // the macros the parameters refer to are not traced
  // Only names known here can ever be cached, so the lookup comes first and spares the cache
  // lookup for names whose results were never static.
  auto found = macroLookup.find(name);
  if (found == macroLookup.end()) {
    MOXLog::error("Invalid macro: " + name);
    return failure();
  }
  MOXMacroInfo& info = found->second;
  if (!trace && info.mayBeCached.load(std::memory_order_acquire)) {
    if (auto cached = macroEvaluationCache.get(&info)) {
      pushUnevaluatedValueToDataLayer((*cached)->pushAfterEvaluate, pending);
      return (*cached)->valueAndStatic;
    }
  }

  std::size_t call = MOXMacroInfo::kNoCall;
  bool selectionStatic = true;
  if (!info.rules.empty()) {
    Selection selection =
        trace ? calculateGenericToRunForRules(info.rules.items(), pending,
                                              MOXTracingMacrosPopulator(info, *trace))
              : calculateGenericToRunForRules(info.rules.items(), pending,
                                              MOXAddRemoveMacrosPopulator(info));
    selectionStatic = selection.isStatic;
    if (!selection.calls.empty()) {
      if (selection.calls.size() > 1) {
        MOXLog::warning("Multiple macros active for macroName " + name);
      }
      call = selection.calls.front();
    }
  }
  if (trace) {
    const bool byRule = call != MOXMacroInfo::kNoCall;
    trace->selected(byRule ? call : info.defaultFunctionCall, byRule, info);
  }
  if (call == MOXMacroInfo::kNoCall) call = info.defaultFunctionCall;
  if (call == MOXMacroInfo::kNoCall) return failure();

  MOXPValueAndStatic execution = executeFunction(call, Role::kMacro, pending);
  const bool resultStatic = selectionStatic && execution.isStatic();
  const MOXPValueAndStatic result =
      isFailure(execution) || resultStatic == execution.isStatic()
          ? std::move(execution)
          : MOXPValueAndStatic::valueWithValue(std::move(execution).value(), resultStatic);
  const ValuePtr& pushValue = calls.call(call).pushAfterEvaluate();
  if (result.isStatic()) {
    const std::size_t cost =
        name.size() + serializedSize(result.value()) + serializedSize(pushValue);
    macroEvaluationCache.put(
        &info, std::make_shared<const MOXCachedMacro>(MOXCachedMacro{result, pushValue}), cost);
    info.mayBeCached.store(true, std::memory_order_release);
  }
  pushUnevaluatedValueToDataLayer(pushValue, pending);
  return result;
}

void MOXRuntime::Impl::evaluateTags(const std::string& eventName) {
  RecursiveMutexLock lock(evaluationLock);
  EventNameScope scope(*this, eventName);
  MOXPendingMacros pending;
  const Selection tags = calculateGenericToRunForRules(rules, pending, MOXAddRemoveTagsPopulator());
  for (std::size_t tag : tags.calls) {
    MOXPendingMacros tagPending;
    executeFunction(tag, Role::kTag, tagPending);
  }
}

MOXRuntime::Impl::BoolAndStatic MOXRuntime::Impl::evaluatePredicatesInRule(
    const MOXIndexedRule& rule, MOXPendingMacros& pending) {
  bool isStatic = true;
  for (std::size_t predicate : rule.negativePredicates) {
    const BoolAndStatic result = evaluatePredicate(predicate, pending);
    if (result.value) return {false, result.isStatic};
    isStatic = isStatic && result.isStatic;
  }
  for (std::size_t predicate : rule.positivePredicates) {
    const BoolAndStatic result = evaluatePredicate(predicate, pending);
    if (!result.value) return {false, result.isStatic};
    isStatic = isStatic && result.isStatic;
  }
  return {true, isStatic};
}

MOXRuntime::Impl::BoolAndStatic MOXRuntime::Impl::evaluatePredicate(std::size_t call,
                                                                    MOXPendingMacros& pending) {
  const MOXPValueAndStatic result = executeFunction(call, Role::kPredicate, pending);
  // A failure was logged where it happened; converting its empty text would only log again.
  if (isFailure(result)) return {false, result.isStatic()};
  const MOXPValue& value = *result.value();
  if (value.type() == MOXPValue::Boolean) {
    return {value.boolean(), result.isStatic()};
  }
  return {MOXTypes::valueToBoolean(result.value())->boolValue(), result.isStatic()};
}

MOXRuntime::Impl::Selection MOXRuntime::Impl::calculateGenericToRunForRules(
    const std::vector<const MOXIndexedRule*>& candidates, MOXPendingMacros& pending,
    const MOXAddRemoveSetPopulator& populator) {
  CallSet add, remove;
  bool isStatic = true;
  for (const MOXIndexedRule* rule : candidates) {
    const BoolAndStatic passed = evaluatePredicatesInRule(*rule, pending);
    if (passed.value) populator.rulePassed(*rule, add, remove);
    isStatic = isStatic && passed.isStatic;
  }
  return {remove.empty() ? add.items() : add.minus(remove), isStatic};
}

void MOXRuntime::Impl::pushUnevaluatedValueToDataLayer(const ValuePtr& value,
                                                       MOXPendingMacros& pending) {
  if (!value) return;
  const MOXPValueAndStatic evaluated = expandMacrosForValue(value, pending);
  if (isFailure(evaluated) || !dataLayer) return;
  const ObjectPtr object = MOXTypes::valueToObject(evaluated.value());
  if (!object) return;
  if (object->kind() == ObjectKind::Dictionary) {
    dataLayer->push(std::static_pointer_cast<Dictionary>(object));
  } else if (const Array* array = asArray(object)) {
    for (const ObjectPtr& item : array->items()) {
      if (item && item->kind() == ObjectKind::Dictionary) {
        dataLayer->push(std::static_pointer_cast<Dictionary>(item));
      } else {
        MOXLog::warning("pushAfterEvaluate: value not a Map or List");
      }
    }
  }
}

MOXPValueAndStatic MOXRuntime::Impl::expandMacrosForValue(const ValuePtr& value,
                                                          MOXPendingMacros& pending) {
  if (!value->contains_references()) return MOXPValueAndStatic::valueWithValue(value, true);
  DepthScope depth(pending);
  if (depth.exceeded()) {
    MOXLog::error("Evaluation nested too deeply at: " + valueDescription(*value));
    return contextualFailure();
  }
  switch (value->type()) {
    case MOXPValue::List:
      return expandListValue(value, pending);
    case MOXPValue::Map:
      return expandMapValue(value, pending);
    case MOXPValue::Template:
      return expandTemplateValue(value, pending);
    case MOXPValue::MacroReference:
      return expandMacroReferenceValue(value, pending);
    default:
      MOXLog::error("Unknown type: " + std::to_string(static_cast<long>(value->type())));
      return failure();
  }
}

MOXPValueAndStatic MOXRuntime::Impl::tooLarge(const MOXPValue& value, MOXPendingMacros& pending) {
  if (pending.budget.firstRefusal()) {
    MOXLog::error("Evaluation result too large at: " + valueDescription(value));
  }
  // Like nesting too deeply, this depends on where the evaluation started: never cached.
  return contextualFailure();
}

// Lists, maps and templates hold their evaluated parts themselves, not copies: a part may be a
// large Value of the resource or the result of a macro, and is immutable either way.

MOXPValueAndStatic MOXRuntime::Impl::expandListValue(const ValuePtr& value,
                                                     MOXPendingMacros& pending) {
  if (!pending.budget.chargeNode()) return tooLarge(*value, pending);
  MOXSharedValueBuilder result(*value);
  result.reserveParts(value->list_item_size());
  for (const MOXPValue& item : value->list_item()) {
    MOXPValueAndStatic evaluated = expandMacrosForValue(ValuePtr(value, &item), pending);
    if (isFailure(evaluated)) return evaluated;
    if (!pending.budget.chargePart(*evaluated.value())) return tooLarge(*value, pending);
    result.addListItem(std::move(evaluated).value());
  }
  return MOXPValueAndStatic::valueWithValue(std::move(result).build(), false);
}

MOXPValueAndStatic MOXRuntime::Impl::expandMapValue(const ValuePtr& value,
                                                    MOXPendingMacros& pending) {
  if (value->map_key_size() != value->map_value_size()) {
    MOXLog::error("Invalid serving value " + valueDescription(*value));
    return failure();
  }
  if (!pending.budget.chargeNode()) return tooLarge(*value, pending);
  MOXSharedValueBuilder result(*value);
  result.reserveParts(2 * value->map_key_size());
  for (int i = 0; i < value->map_key_size(); ++i) {
    MOXPValueAndStatic key = expandMacrosForValue(ValuePtr(value, &value->map_key(i)), pending);
    if (isFailure(key)) return key;
    MOXPValueAndStatic mapped =
        expandMacrosForValue(ValuePtr(value, &value->map_value(i)), pending);
    if (isFailure(mapped)) return mapped;
    if (!pending.budget.chargePart(*key.value()) || !pending.budget.chargePart(*mapped.value())) {
      return tooLarge(*value, pending);
    }
    result.addMapKey(std::move(key).value());
    result.addMapValue(std::move(mapped).value());
  }
  return MOXPValueAndStatic::valueWithValue(std::move(result).build(), false);
}

MOXPValueAndStatic MOXRuntime::Impl::expandTemplateValue(const ValuePtr& value,
                                                         MOXPendingMacros& pending) {
  if (!pending.budget.chargeNode()) return tooLarge(*value, pending);
  MOXSharedValueBuilder result(*value);
  result.reserveParts(value->template_token_size());
  for (const MOXPValue& token : value->template_token()) {
    MOXPValueAndStatic evaluated = expandMacrosForValue(ValuePtr(value, &token), pending);
    if (isFailure(evaluated)) return evaluated;
    if (!pending.budget.chargePart(*evaluated.value())) return tooLarge(*value, pending);
    result.addTemplateToken(std::move(evaluated).value());
  }
  return MOXPValueAndStatic::valueWithValue(std::move(result).build(), false);
}

MOXPValueAndStatic MOXRuntime::Impl::expandMacroReferenceValue(const ValuePtr& value,
                                                               MOXPendingMacros& pending) {
  const std::string& name = value->macro_reference();
  if (pending.contains(name)) {
    MOXLog::error("Macro cycle detected.  Current macro reference: " + name +
                  ".  Previous macro reference: " + pending.description() + ".");
    return failure();
  }
  pending.names.push_back(name);
  const MOXPValueAndStatic result = evaluateMacroReferenceWithCycleDetection(name, pending);
  pending.names.pop_back();
  // Escaping a failure would turn it into an ordinary value and hide it from the callers above.
  if (isFailure(result) || value->escaping_size() == 0) return result;
  return MOXValueEscapeUtil::applyEscapings(value->escaping(), result);
}

MOXPValueAndStatic MOXRuntime::Impl::executeFunction(std::size_t call, Role role,
                                                     MOXPendingMacros& pending) {
  // One view of what this runtime knows about the call serves for the function id, the
  // resolution and, evaluated in place, the parameters. Implementations are only ever added to a
  // table, so an implementation found once for a call stays the right one for the table's life.
  const MOXCallTable::View* view = calls.view(call);
  MOXParameterMap parameters;
  calls.snapshot(call, view, parameters);
  MOXCallTable::Resolution resolution;
  if (view) resolution = view->resolution(role);
  if (!resolution.implementation) {
    const ValuePtr* functionEntry = parameters.find(MOXExpandedFunctionCall::functionKey());
    if (!functionEntry) {
      MOXLog::error("No function id in properties");
      return failure();
    }
    const ImplementationMap& map = mapFor(role);
    auto found = map.find((*functionEntry)->function_id());
    if (found == map.end()) {
      MOXLog::error((*functionEntry)->function_id() + " has no backing implementation.");
      return failure();
    }
    resolution.implementation = found->second.get();
    // Evaluation replaces values but never removes keys, so the keys can be checked up front.
    resolution.hasRequiredKeys = found->second->hasRequiredKeys(parameters);
    calls.recordResolution(call, view, role, resolution);
  }
  MOXFunctionCallImplementation& implementation = *resolution.implementation;
  // Only cacheable implementations' results are ever cached, and only calls marked as cached
  // can hit.
  const bool implementationCacheable = implementation.isCacheable();
  if (implementationCacheable && calls.mayHaveCachedResult(call)) {
    if (auto cached = functionCallCache.get(call)) return *cached;
  }

  bool allStatic = true;
  std::size_t index = 0;
  for (MOXParameterMap::Entry& entry : parameters) {
    const std::size_t at = index++;
    if (!entry.second->contains_references()) continue;  // static and unchanged
    MOXPValueAndStatic evaluated = expandMacrosForValue(entry.second, pending);
    if (isFailure(evaluated)) return evaluated;
    if (!evaluated.isStatic()) {
      allStatic = false;
    } else if (evaluated.value() != entry.second && !evaluated.value()->contains_references()) {
      // The next execution finds the evaluated value and skips the evaluation behind it. A value
      // that still holds references would be evaluated again anyway, so it is not kept.
      calls.fold(call, view, at, entry.second, evaluated.value());
    }
    entry.second = std::move(evaluated).value();
  }
  if (!resolution.hasRequiredKeys) {
    MOXLog::error("Incorrect keys for function " + implementation.instanceFunctionId() +
                  " required " + implementation.requiredKeysDescription() + " had " +
                  parameters.keysDescription());
    return failure();
  }

  const bool cacheable = allStatic && implementationCacheable;
  ValuePtr returned = implementation.evaluate(parameters);
  if (!returned) returned = MOXTypes::defaultValue();
  MOXPValueAndStatic result = MOXPValueAndStatic::valueWithValue(std::move(returned), cacheable);
  if (cacheable) {
    functionCallCache.put(call, result, serializedSize(result.value()));
    calls.markResultCached(call);
  }
  return result;
}

}  // namespace loomset
