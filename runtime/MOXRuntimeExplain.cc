// Explained lookups: the evaluation of a plain lookup, traced.
#include "runtime/MOXRuntimeImpl.h"
#include "runtime/MOXRuntimeInternals.h"

namespace loomset {

MOXPValueAndStatic MOXRuntime::Impl::explainMacroReference(const std::string& name,
                                                           MOXMacroTrace& trace) {
  auto found = macroLookup.find(name);
  trace.known = found != macroLookup.end();
  if (trace.known && found->second.mayBeCached.load(std::memory_order_acquire)) {
    trace.fromStaticCache = macroEvaluationCache.get(&found->second).has_value();
  }
  // A cached result is evaluated again (to the same Value, being static) so that the trace can
  // name the rule behind it; the cache keeps what it holds.
  MOXPendingMacros pending;
  pending.trace = &trace;
  return evaluateMacroReferenceWithCycleDetection(name, pending);
}

MOXMacroExplanation MOXRuntimeInternals::explainMacroReference(MOXRuntime& runtime,
                                                               const std::string& macroName) {
  MOXRuntime::Impl& impl = *runtime.impl_;
  MOXMacroExplanation explanation{MOXRuntime::defaultValueAndStatic(), false, {}};
  MOXPValueAndStatic result = impl.explainMacroReference(macroName, explanation.trace);
  explanation.failed = impl.isFailure(result);
  if (!explanation.failed) explanation.result = std::move(result);
  return explanation;
}

}  // namespace loomset
