// Hooks into a runtime for the library's own layers and for tests: what an application has no
// business calling. Each hook has the runtime's thread rules: setting the event name and the
// parameter replacement may run while other threads evaluate.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "loomset/MOXRuntime.h"
#include "runtime/MOXMacroTrace.h"

namespace loomset {

// An explained lookup: what `evaluateMacroReference` answers, whether that is the result of a
// failed evaluation, and the trace of the outermost macro.
struct MOXMacroExplanation {
  MOXPValueAndStatic result;
  bool failed;
  MOXMacroTrace trace;
};

class MOXRuntimeInternals {
 public:
  // Evaluates the macro as `evaluateMacroReference` does, with the same effects (pushes,
  // caching), and traces it; see MOXMacroTrace.
  static MOXMacroExplanation explainMacroReference(MOXRuntime& runtime,
                                                   const std::string& macroName);

  static void setCurrentEventName(MOXRuntime& runtime, std::optional<std::string> name);

  // Entries currently held by the two caches.
  static std::size_t functionCallCacheCount(const MOXRuntime& runtime);
  static std::size_t macroEvaluationCacheCount(const MOXRuntime& runtime);

  // The runtime's view of a call's parameter: the call's own Value, or the static Value the
  // runtime folded it to. Null when the call has no such parameter or is not in the resource.
  static ValuePtr parameterForKey(const MOXRuntime& runtime, const MOXExpandedFunctionCall& call,
                                  std::string_view key);
  // Replaces (or adds) the parameter under the key in the runtime's view of the call. The call
  // itself is not changed.
  static void updateCacheablePropertyWithValue(MOXRuntime& runtime,
                                               const MOXExpandedFunctionCall& call, ValuePtr value,
                                               const std::string& key);
};

}  // namespace loomset
