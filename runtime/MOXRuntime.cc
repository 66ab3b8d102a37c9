#include "loomset/MOXRuntime.h"

#include "loomset/Exceptions.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "runtime/MOXBuiltInImplementations.h"
#include "runtime/MOXExperimentMacroHelper.h"
#include "runtime/MOXRuntimeImpl.h"

namespace loomset {

MOXRuntime::Impl::Impl(MOXExpandedResourcePtr resource, std::shared_ptr<MOXDataLayer> dataLayer)
    : resource(std::move(resource)),
      dataLayer(std::move(dataLayer)),
      calls(*this->resource),
      functionCallCache(kCacheCostLimit),
      macroEvaluationCache(kCacheCostLimit) {
  MOXIdentitySet<const MOXExpandedRule*> unique;
  for (const auto& rule : this->resource->rules()) unique.insert(rule.get());
  indexedRules.reserve(unique.size());
  for (const MOXExpandedRule* rule : unique.items())
    indexedRules.emplace_back(*rule, *this->resource);
  // indexedRules does not grow from here on, so pointers into it stay valid.
  for (const MOXIndexedRule& rule : indexedRules) rules.push_back(&rule);
}

void MOXRuntime::Impl::addFunctionImplToDict(ImplementationMap& map,
                                             MOXFunctionCallImplementationPtr implementation) {
  if (!implementation || implementation->instanceFunctionId().empty()) {
    throw IllegalArgumentException("instanceFunctionId should be set");
  }
  const std::string& id = implementation->instanceFunctionId();
  if (map.count(id) > 0) throw IllegalArgumentException("Duplicate function type name: " + id);
  map.emplace(id, std::move(implementation));
}

void MOXRuntime::Impl::buildMacroLookup() {
  auto nameOf = [](const MOXExpandedFunctionCall& call) {
    ValuePtr name = call.propertyForKey(MOXExpandedFunctionCall::instanceNameKey());
    return name ? MOXTypes::valueToString(name)->text() : std::string();
  };
  for (const MOXIndexedRule* rule : rules) {
    for (const auto& call : rule->rule->addMacros()) {
      if (!call) continue;
      MOXMacroInfo& info = macroLookup[nameOf(*call)];
      info.rules.insert(rule);
      info.addAddMacro(resource->ordinalOf(*call), rule);
    }
    for (const auto& call : rule->rule->removeMacros()) {
      if (!call) continue;
      MOXMacroInfo& info = macroLookup[nameOf(*call)];
      info.rules.insert(rule);
      info.addRemoveMacro(resource->ordinalOf(*call), rule);
    }
  }
  // The last eligible call of a name in resource order is its default.
  for (const auto& [name, named] : resource->allMacros()) {
    for (const auto& call : named) {
      ValuePtr notDefault = call->propertyForKey(MOXExpandedFunctionCall::notDefaultMacroKey());
      if (notDefault && MOXTypes::valueToBoolean(notDefault)->boolValue()) continue;
      macroLookup[name].defaultFunctionCall = resource->ordinalOf(*call);
    }
  }
}

MOXRuntime::MOXRuntime(MOXExpandedResourcePtr resource, std::shared_ptr<MOXDataLayer> dataLayer)
    : impl_(std::make_unique<Impl>(std::move(resource), std::move(dataLayer))) {}

MOXRuntime::~MOXRuntime() = default;

std::shared_ptr<MOXRuntime> MOXRuntime::runtimeWithResource(
    MOXExpandedResourcePtr resource, std::shared_ptr<MOXDataLayer> dataLayer,
    std::shared_ptr<MOXCustomEvaluator> functionCallMacroEvaluator,
    std::shared_ptr<MOXCustomEvaluator> functionCallTagEvaluator) {
  if (!resource) {
    MOXLog::error("resource cannot be nil");
    return nullptr;
  }
  std::shared_ptr<MOXRuntime> runtime(new MOXRuntime(std::move(resource), std::move(dataLayer)));
  // Registration needs the finished shared handle: implementations keep the runtime weakly.
  registerBuiltInImplementations(*runtime, functionCallMacroEvaluator, functionCallTagEvaluator);
  runtime->impl_->buildMacroLookup();
  return runtime;
}

MOXPValueAndStatic MOXRuntime::evaluateMacroReference(const std::string& macroName) {
  MOXPendingMacros pending;
  MOXPValueAndStatic result = impl_->evaluateMacroReferenceWithCycleDetection(macroName, pending);
  return impl_->isFailure(result) ? defaultValueAndStatic() : result;
}

void MOXRuntime::evaluateTags(const std::string& eventName) {
  impl_->evaluateTags(eventName);
}

void MOXRuntime::setSupplementals(
    const google::protobuf::RepeatedPtrField<MOXPSupplemental>& supplementals) {
  for (const auto& supplemental : supplementals) {
    if (supplemental.name().rfind("qzExperiment:", 0) == 0) {
      MOXExperimentMacroHelper::handleExperimentSupplemental(impl_->dataLayer, supplemental);
    }
  }
}

void MOXRuntime::setSupplementals(const std::vector<MOXPSupplemental>& supplementals) {
  google::protobuf::RepeatedPtrField<MOXPSupplemental> field(supplementals.begin(),
                                                             supplementals.end());
  setSupplementals(field);
}

void MOXRuntime::addMacro(MOXFunctionCallImplementationPtr implementation) {
  Impl::addFunctionImplToDict(impl_->macroMap, std::move(implementation));
}
void MOXRuntime::addTrackingTag(MOXFunctionCallImplementationPtr implementation) {
  Impl::addFunctionImplToDict(impl_->trackingTagMap, std::move(implementation));
}
void MOXRuntime::addPredicate(MOXFunctionCallImplementationPtr implementation) {
  Impl::addFunctionImplToDict(impl_->predicateMap, std::move(implementation));
}

const MOXExpandedResourcePtr& MOXRuntime::resource() const {
  return impl_->resource;
}
const std::shared_ptr<MOXDataLayer>& MOXRuntime::dataLayer() const {
  return impl_->dataLayer;
}
const MOXRuntime::ImplementationMap& MOXRuntime::trackingTagMap() const {
  return impl_->trackingTagMap;
}
const MOXRuntime::ImplementationMap& MOXRuntime::predicateMap() const {
  return impl_->predicateMap;
}
const MOXRuntime::ImplementationMap& MOXRuntime::macroMap() const {
  return impl_->macroMap;
}

std::optional<std::string> MOXRuntime::currentEventName() const {
  MutexLock lock(impl_->eventNameLock);
  return impl_->currentEventName;
}

const MOXPValueAndStatic& MOXRuntime::defaultValueAndStatic() {
  static const MOXPValueAndStatic value =
      MOXPValueAndStatic::valueWithValue(MOXTypes::defaultValue(), true);
  return value;
}

}  // namespace loomset
