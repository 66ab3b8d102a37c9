// An application's code behind a "_func" macro. The application registers a handler on a
// container under a macro name; every lookup of a macro implemented by "_func" with that
// "function_call_macro_name" calls `valueForMacro` with the name and the macro's
// "additional_params" as plain objects (keys as text). The answer becomes the macro's value:
// texts, numbers, MOXBoolean, arrays and dictionaries of them convert; null, or anything that does
// not convert, gives the default value. "_func" is never cached, so the handler is asked on every
// use.
//
// Ownership: the container holds registered handlers strongly until they are replaced.
// Threads: `valueForMacro` runs synchronously on the thread that asked for the value or that is
// evaluating an event, possibly on several threads at once. Whatever it throws is logged and
// answered with the default value.
#pragma once

#include <memory>
#include <string>

#include "loomset/Collections.h"
#include "loomset/Export.h"
#include "loomset/Object.h"

namespace loomset {

class LOOMSET_EXPORT MOXFunctionCallMacroHandler {
 public:
  virtual ~MOXFunctionCallMacroHandler() = default;
  virtual ObjectPtr valueForMacro(const std::string& macroName,
                                  const std::shared_ptr<Dictionary>& parameters) = 0;
};

}  // namespace loomset
