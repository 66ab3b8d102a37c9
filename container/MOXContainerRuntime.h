// How a container turns a resource into a runtime, and a runtime's answers into typed values.
// Kept apart from MOXContainer so that a container-less runtime (the tools run one over a
// container file) is built and answers exactly as a container's would.
//
// `runtimeWithResource` builds the runtime over the resource and the data layer with the two
// "_func" adapters over a handler table. The typed getters evaluate the macro named by the key,
// convert its Value, and answer the type's default (the empty string, false, 0.0, 0) on any
// failure: no runtime (a closed container: the error "<getter> called for closed container"), a
// name that names no macro, a Value that does not convert, or an exception raised while
// evaluating (the error "Calling <getter> threw an exception: <reason> Returning default
// value.").
//
// Threads: the getters may be called from any thread, as MOXRuntime::evaluateMacroReference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "container/MOXFunctionCallHandlers.h"
#include "loomset/Export.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXExpandedResource.h"
#include "loomset/MOXRuntime.h"
#include "loomset/MOXValueDetail.h"

namespace loomset {

class LOOMSET_EXPORT MOXContainerRuntime {
 public:
  // Null, with the runtime's error, for a null resource. The handlers are held weakly.
  static std::shared_ptr<MOXRuntime> runtimeWithResource(
      MOXExpandedResourcePtr resource, std::shared_ptr<MOXDataLayer> dataLayer,
      const std::shared_ptr<MOXFunctionCallHandlers>& handlers);

  static std::string stringForKey(const std::shared_ptr<MOXRuntime>& runtime,
                                  const std::string& key);
  static bool booleanForKey(const std::shared_ptr<MOXRuntime>& runtime, const std::string& key);
  static double doubleForKey(const std::shared_ptr<MOXRuntime>& runtime, const std::string& key);
  static std::int64_t int64ForKey(const std::shared_ptr<MOXRuntime>& runtime,
                                  const std::string& key);

  // The getters' values with why they were answered (MOXValueDetail.h), with the getters' log
  // lines. For a closed container (no runtime) the version is left empty for the container to
  // fill in.
  static MOXStringDetail stringDetailForKey(const std::shared_ptr<MOXRuntime>& runtime,
                                            const std::string& key);
  static MOXBooleanDetail booleanDetailForKey(const std::shared_ptr<MOXRuntime>& runtime,
                                              const std::string& key);
  static MOXDoubleDetail doubleDetailForKey(const std::shared_ptr<MOXRuntime>& runtime,
                                            const std::string& key);
  static MOXInt64Detail int64DetailForKey(const std::shared_ptr<MOXRuntime>& runtime,
                                          const std::string& key);
};

// For the getters' catch-all handlers: the reason of the exception being handled, and the error
// line that says a getter threw and answers its default.
std::string reasonOfCurrentGetterException();
void logGetterException(const char* getter, const std::string& reason);

}  // namespace loomset
