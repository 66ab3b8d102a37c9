// Where the "_func" adapters find the application's handlers by name: the container implements
// it over the handlers registered on it. Tag and macro handlers live in separate registries, so
// one name may denote one of each.
//
// The adapters ask on every call, so a handler registered after the runtime was built is used
// from its registration on.
//
// Threads: both look-ups may be called from any thread, concurrently with registration;
// implementations guard their maps.
#pragma once

#include <memory>
#include <string>

#include "loomset/Export.h"
#include "loomset/MOXFunctionCallMacroHandler.h"
#include "loomset/MOXFunctionCallTagHandler.h"

namespace loomset {

class LOOMSET_EXPORT MOXFunctionCallHandlerRegistry {
 public:
  virtual ~MOXFunctionCallHandlerRegistry() = default;
  // The handler registered under the name, or null.
  virtual std::shared_ptr<MOXFunctionCallTagHandler> functionCallTagHandlerForTag(
      const std::string& tagName) = 0;
  virtual std::shared_ptr<MOXFunctionCallMacroHandler> functionCallMacroHandlerForMacro(
      const std::string& macroName) = 0;
};

}  // namespace loomset
