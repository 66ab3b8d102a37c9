// The application's handlers for "_func" tags and macros, kept by name: one table per container
// (and one per container-less runtime, as the tools build). Tag and macro handlers live in
// separate maps, so one name may denote one of each. A later handler under a name replaces the
// earlier one; registering null removes it.
//
// The table has a lock of its own, taken only around a map access: the adapters look handlers up
// during tag evaluation on the pushing thread, which must never wait for the container's lock
// (held while a resource is applied, which may push into the data layer itself).
//
// Threads: every operation is safe from any thread.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "loomset/Export.h"
#include "loomset/MOXFunctionCallMacroHandler.h"
#include "loomset/MOXFunctionCallTagHandler.h"

namespace loomset {

class LOOMSET_EXPORT MOXFunctionCallHandlers {
 public:
  void registerFunctionCallTagHandler(std::shared_ptr<MOXFunctionCallTagHandler> handler,
                                      const std::string& tagName);
  void registerFunctionCallMacroHandler(std::shared_ptr<MOXFunctionCallMacroHandler> handler,
                                        const std::string& macroName);
  // The handler registered under the name, or null.
  std::shared_ptr<MOXFunctionCallTagHandler> functionCallTagHandlerForTag(
      const std::string& tagName) const;
  std::shared_ptr<MOXFunctionCallMacroHandler> functionCallMacroHandlerForMacro(
      const std::string& macroName) const;

 private:
  mutable Mutex mu_;
  std::map<std::string, std::shared_ptr<MOXFunctionCallTagHandler>> tags_ GUARDED_BY(mu_);
  std::map<std::string, std::shared_ptr<MOXFunctionCallMacroHandler>> macros_ GUARDED_BY(mu_);
};

}  // namespace loomset
