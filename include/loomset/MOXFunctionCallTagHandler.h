// An application's code behind a "_func" tag. The application registers a handler on a container
// under a tag name; whenever a rule fires a "_func" tag whose "function_call_macro_name" is that
// name, the container calls `execute` with the name and the tag's "additional_params" as plain
// objects (keys as text).
//
// Ownership: the container holds registered handlers strongly until they are replaced.
// Threads: `execute` runs synchronously on the thread that pushed the event to the data layer,
// inside the runtime's tag pass; handlers on several containers or events may run concurrently.
// Whatever `execute` throws is logged and goes no further: the other tags of the event still run.
#pragma once

#include <memory>
#include <string>

#include "loomset/Collections.h"
#include "loomset/Export.h"

namespace loomset {

class LOOMSET_EXPORT MOXFunctionCallTagHandler {
 public:
  virtual ~MOXFunctionCallTagHandler() = default;
  virtual void execute(const std::string& tagName,
                       const std::shared_ptr<Dictionary>& parameters) = 0;
};

}  // namespace loomset
