#include "runtime/MOXRuntimeInternals.h"

#include "runtime/MOXRuntimeImpl.h"

namespace loomset {

void MOXRuntimeInternals::setCurrentEventName(MOXRuntime& runtime,
                                              std::optional<std::string> name) {
  MutexLock lock(runtime.impl_->eventNameLock);
  runtime.impl_->currentEventName = std::move(name);
}

std::size_t MOXRuntimeInternals::functionCallCacheCount(const MOXRuntime& runtime) {
  return runtime.impl_->functionCallCache.count();
}

std::size_t MOXRuntimeInternals::macroEvaluationCacheCount(const MOXRuntime& runtime) {
  return runtime.impl_->macroEvaluationCache.count();
}

ValuePtr MOXRuntimeInternals::parameterForKey(const MOXRuntime& runtime,
                                              const MOXExpandedFunctionCall& call,
                                              std::string_view key) {
  const MOXRuntime::Impl& impl = *runtime.impl_;
  const std::size_t ordinal = impl.resource->ordinalOf(call);
  if (ordinal == MOXExpandedResource::kNoOrdinal) return nullptr;
  MOXParameterMap parameters;
  impl.calls.snapshot(ordinal, impl.calls.view(ordinal), parameters);
  return parameters.get(key);
}

void MOXRuntimeInternals::updateCacheablePropertyWithValue(MOXRuntime& runtime,
                                                           const MOXExpandedFunctionCall& call,
                                                           ValuePtr value, const std::string& key) {
  MOXRuntime::Impl& impl = *runtime.impl_;
  const std::size_t ordinal = impl.resource->ordinalOf(call);
  if (ordinal != MOXExpandedResource::kNoOrdinal) {
    impl.calls.setParameter(ordinal, key, std::move(value));
  }
}

}  // namespace loomset
