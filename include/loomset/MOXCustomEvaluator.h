// How "_func" macros and tags reach code of the application: the container hands the runtime
// one evaluator for custom macros and one for custom tags; each looks the application's handler
// up by name on every call.
//
// Threads: called on the thread that evaluates the macro or tag.
#pragma once

#include <memory>
#include <string>

#include "loomset/Collections.h"
#include "loomset/Export.h"
#include "loomset/Object.h"

namespace loomset {

class LOOMSET_EXPORT MOXCustomEvaluator {
 public:
  virtual ~MOXCustomEvaluator() = default;
  // The handler's result for `name`, or null.
  virtual ObjectPtr evaluate(const std::string& name,
                             const std::shared_ptr<Dictionary>& parameters) = 0;
};

}  // namespace loomset
