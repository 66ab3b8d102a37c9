// The detail getters of MOXContainerRuntime: the plain getters' evaluation and conversion,
// explained. Kept apart from the plain getters so that those stay as lean as they are.
#include <exception>
#include <utility>

#include "Library/Util/MOXLogErrorCapture.h"
#include "container/MOXContainerRuntime.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "runtime/MOXRuntimeInternals.h"

namespace loomset {
namespace {

// A conversion's result and whether it failed (its answer was the conversion's sentinel).
template <typename T>
struct Converted {
  T value;
  bool failed;
};

Converted<std::string> stringOf(const ValuePtr& v) {
  if (v && v->type() == MOXPValue::String) return {v->string(), false};
  const auto converted = MOXTypes::valueToString(v);
  return {converted->text(), converted == MOXTypes::defaultString()};
}

Converted<bool> booleanOf(const ValuePtr& v) {
  const auto converted = MOXTypes::valueToBoolean(v);
  return {converted->boolValue(), converted == MOXTypes::defaultBoolean()};
}

Converted<double> doubleOf(const ValuePtr& v) {
  const auto converted = MOXTypes::valueToDouble(v);
  return {converted->doubleValue(), converted == MOXTypes::defaultDouble()};
}

Converted<std::int64_t> int64Of(const ValuePtr& v) {
  if (v && v->type() == MOXPValue::Integer) return {static_cast<std::int64_t>(v->integer()), false};
  const auto converted = MOXTypes::valueToInt64(v);
  return {converted->longLongValue(), converted == MOXTypes::defaultInt64()};
}

void describeCall(const MOXExpandedResource& resource, const MOXMacroTrace& trace,
                  MOXValueExplanation& why) {
  if (trace.call == MOXMacroInfo::kNoCall || trace.call >= resource.calls().size()) return;
  const MOXExpandedFunctionCall* call = resource.calls()[trace.call];
  MOXValueCall answered;
  if (ValuePtr name = call->propertyForKey(MOXExpandedFunctionCall::instanceNameKey())) {
    answered.instanceName = MOXTypes::valueToString(name)->text();
  }
  if (const auto* named = resource.macrosByName(answered.instanceName)) {
    for (std::size_t i = 0; i < named->size(); ++i) {
      if ((*named)[i].get() == call) answered.position = i;
    }
  }
  if (trace.addedBy) {
    const auto& rules = resource.rules();
    for (std::size_t i = 0; i < rules.size(); ++i) {
      if (rules[i].get() == trace.addedBy->rule) answered.rule = i;
    }
  }
  why.call = std::move(answered);
}

template <typename T>
MOXValueDetail<T> typedDetail(const std::shared_ptr<MOXRuntime>& runtime, const std::string& key,
                              const char* getter, T fallback,
                              Converted<T> (*convert)(const ValuePtr&)) {
  MOXValueDetail<T> detail;
  detail.value = fallback;
  MOXValueExplanation& why = detail.why;
  if (!runtime) {
    MOXLog::error(std::string(getter) + " called for closed container");
    why.failure = MOXValueFailure::kClosedContainer;
    why.failureReason = "the container is closed";
    return detail;
  }
  why.containerVersion = runtime->resource()->version();
  MOXLogErrorCapture capture;
  std::string reason;
  try {
    const MOXMacroExplanation explained = MOXRuntimeInternals::explainMacroReference(*runtime, key);
    describeCall(*runtime->resource(), explained.trace, why);
    why.fromStaticCache = explained.trace.fromStaticCache;
    why.isStatic = explained.result.isStatic() && !explained.failed;
    if (!explained.trace.known) {
      why.failure = MOXValueFailure::kNoSuchMacro;
      why.failureReason = capture.firstError().value_or("no macro is named " + key);
    } else if (!explained.failed &&
               explained.result.value().get() == MOXTypes::defaultValue().get() &&
               capture.firstError()) {
      // An implementation reports its own failure by answering the default Value, which the
      // runtime passes on as a value.
      why.failure = MOXValueFailure::kEvaluationFailed;
      why.failureReason = *capture.firstError();
    } else if (explained.failed) {
      why.failure = MOXValueFailure::kEvaluationFailed;
      why.failureReason = capture.firstError().value_or(
          explained.trace.call == MOXMacroInfo::kNoCall
              ? "no rule added a call of " + key + " and it has no default call"
              : "the evaluation failed");
    }
    capture.reset();
    Converted<T> converted = convert(explained.result.value());
    detail.value = std::move(converted.value);
    if (converted.failed && why.failure == MOXValueFailure::kNone) {
      why.failure = MOXValueFailure::kConversionFailed;
      why.failureReason = capture.firstError().value_or(std::string("the value does not convert"));
    }
    return detail;
  } catch (...) {
    reason = reasonOfCurrentGetterException();
  }
  logGetterException(getter, reason);
  detail.value = std::move(fallback);
  why.isStatic = false;
  why.failure = MOXValueFailure::kEvaluationFailed;
  why.failureReason = reason;
  return detail;
}

}  // namespace

MOXStringDetail MOXContainerRuntime::stringDetailForKey(const std::shared_ptr<MOXRuntime>& runtime,
                                                        const std::string& key) {
  return typedDetail<std::string>(runtime, key, "stringForKey", MOXTypes::defaultString()->text(),
                                  stringOf);
}

MOXBooleanDetail MOXContainerRuntime::booleanDetailForKey(
    const std::shared_ptr<MOXRuntime>& runtime, const std::string& key) {
  return typedDetail<bool>(runtime, key, "booleanForKey", MOXTypes::defaultBoolean()->boolValue(),
                           booleanOf);
}

MOXDoubleDetail MOXContainerRuntime::doubleDetailForKey(const std::shared_ptr<MOXRuntime>& runtime,
                                                        const std::string& key) {
  return typedDetail<double>(runtime, key, "doubleForKey", MOXTypes::defaultDouble()->doubleValue(),
                             doubleOf);
}

MOXInt64Detail MOXContainerRuntime::int64DetailForKey(const std::shared_ptr<MOXRuntime>& runtime,
                                                      const std::string& key) {
  return typedDetail<std::int64_t>(runtime, key, "int64ForKey",
                                   MOXTypes::defaultInt64()->longLongValue(), int64Of);
}

const char* MOXValueFailureName(MOXValueFailure failure) {
  switch (failure) {
    case MOXValueFailure::kNone:
      return "none";
    case MOXValueFailure::kClosedContainer:
      return "closedContainer";
    case MOXValueFailure::kNoSuchMacro:
      return "noSuchMacro";
    case MOXValueFailure::kEvaluationFailed:
      return "evaluationFailed";
    case MOXValueFailure::kConversionFailed:
      return "conversionFailed";
  }
  return "none";
}

}  // namespace loomset
