// How "_func" macros and tags reach code of the application: the container hands the runtime
// one evaluator for custom macros and one for custom tags (the handler adapters); each looks the
// application's handler up by name on every call.
//
// `parameters` is a new dictionary for each call, keyed by text, holding plain objects; the
// evaluator may keep or change it. The answer is converted to a Value by the caller; null means
// no value. An evaluator may throw: "_func" logs what it throws and answers the default value.
//
// Ownership: the runtime's "_func" implementations hold their evaluator strongly.
// Threads: called on the thread that evaluates the macro or tag, possibly on several at once.
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
