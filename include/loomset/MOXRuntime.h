// The rule runtime of one expanded container resource.
//
// A value lookup (`evaluateMacroReference`) resolves a macro name to a Value: the rules choose
// which of the macro's calls applies, the call's parameters are evaluated (macro references,
// lists, maps, templates, escapings) and the implementation registered under its function id
// runs. A tag evaluation (`evaluateTags`) runs when the data layer reports an event: every rule
// is evaluated and the tags that passing rules add, minus those any passing rule removes, run.
//
// Results that follow from the resource alone ("static") are cached for the runtime's life in two
// cost-bounded caches, and static parameters are folded into the runtime's own view of their
// calls. The resource is never changed: what the runtime learns about a call it keeps in its own
// table, indexed by the call's ordinal in the resource, so several runtimes may share one
// resource.
//
// Ownership: the runtime owns its implementations, caches and call table and shares the resource
// and the data layer. Create it with `runtimeWithResource`; implementations hold it weakly.
//
// Threads: `evaluateMacroReference` takes no lock and may run on any thread, also while another
// thread evaluates tags. `evaluateTags` holds the runtime's re-entrant lock for the whole pass.
// Register implementations (`addMacro` and the like) before the runtime is shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <google/protobuf/repeated_field.h>

#include "loomset/Export.h"
#include "loomset/MOXCustomEvaluator.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXExpandedResource.h"
#include "loomset/MOXFunctionCallImplementation.h"
#include "loomset/MOXObjectAndStatic.h"
#include "loomset/proto/serving.pb.h"

namespace loomset {

class LOOMSET_EXPORT MOXRuntime : public std::enable_shared_from_this<MOXRuntime> {
 public:
  using ImplementationMap =
      std::unordered_map<std::string, MOXFunctionCallImplementationPtr, MOXKeyHash, MOXKeyEqual>;

  // Total cost (bytes of serialized Values) each of the two caches may hold.
  static constexpr std::size_t kCacheCostLimit = 1048576;
  // How deeply one evaluation may nest values and macro references before it gives up.
  static constexpr std::size_t kMaxEvaluationDepth = 128;
  // How many Value nodes one evaluation may build (counting a shared part at every place it
  // appears) before it gives up; of the order of the expansion's MOXResourceUtil::kMaxValueNodes.
  static constexpr std::uint64_t kMaxEvaluatedNodes = 1u << 20;

  // Null (with the error "resource cannot be nil") for a null resource. Registers the built-in
  // implementations; raises IllegalArgumentException when two share a function id. The data
  // layer and the evaluators may be null; what needs them then does nothing.
  static std::shared_ptr<MOXRuntime> runtimeWithResource(
      MOXExpandedResourcePtr resource, std::shared_ptr<MOXDataLayer> dataLayer,
      std::shared_ptr<MOXCustomEvaluator> functionCallMacroEvaluator,
      std::shared_ptr<MOXCustomEvaluator> functionCallTagEvaluator);
  ~MOXRuntime();
  MOXRuntime(const MOXRuntime&) = delete;
  MOXRuntime& operator=(const MOXRuntime&) = delete;

  // Never fails: an unknown macro or a failed evaluation gives defaultValueAndStatic() (logged).
  MOXPValueAndStatic evaluateMacroReference(const std::string& macroName);
  // Runs the tags selected for the event. An exception raised by an implementation ends the
  // pass and reaches the caller; the lock and the current event name are restored first.
  void evaluateTags(const std::string& eventName);
  // Hands experiment supplementals (names beginning with "qzExperiment:") to the data layer.
  void setSupplementals(const google::protobuf::RepeatedPtrField<MOXPSupplemental>& supplementals);
  void setSupplementals(const std::vector<MOXPSupplemental>& supplementals);

  // Register an implementation under its function id. IllegalArgumentException with
  // "instanceFunctionId should be set" or "Duplicate function type name: <id>".
  void addMacro(MOXFunctionCallImplementationPtr implementation);
  void addTrackingTag(MOXFunctionCallImplementationPtr implementation);
  void addPredicate(MOXFunctionCallImplementationPtr implementation);

  const MOXExpandedResourcePtr& resource() const;
  const std::shared_ptr<MOXDataLayer>& dataLayer() const;
  const ImplementationMap& trackingTagMap() const;
  const ImplementationMap& predicateMap() const;
  const ImplementationMap& macroMap() const;
  // The event `evaluateTags` is evaluating; nothing outside a pass.
  std::optional<std::string> currentEventName() const;

  // The shared failure result: MOXTypes::defaultValue(), static.
  static const MOXPValueAndStatic& defaultValueAndStatic();

  // The evaluation state; defined inside the library only.
  class Impl;

 private:
  friend class MOXRuntimeInternals;  // the library's own hooks (runtime/MOXRuntimeInternals.h)

  explicit MOXRuntime(MOXExpandedResourcePtr resource, std::shared_ptr<MOXDataLayer> dataLayer);
  std::unique_ptr<Impl> impl_;
};

}  // namespace loomset
