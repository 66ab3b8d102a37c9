// "_func": hands a call to code of the application. The runtime registers one instance made with
// the container's macro evaluator among its macros and one made with the tag evaluator among its
// tags, both under "_func"; as a tag its result is ignored by the runtime.
//
// The handler is named by "function_call_macro_name"; the entries of the optional Map
// "additional_params" become its parameters, keys turned into text. Never cacheable: each use asks
// the application again. Whatever the handler raises is logged and answered with the default
// value, so it never reaches the runtime or the other tags of the same event.
//
// Threads: `evaluate` runs on the evaluating thread and keeps no state of its own; the evaluator
// decides what is safe to call concurrently.
#pragma once

#include <memory>
#include <string>

#include "loomset/MOXCustomEvaluator.h"
#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXCustomFunctionCall final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();               // "_func"
  static const std::string& functionCallNameKey();      // "function_call_macro_name"
  static const std::string& additionalParametersKey();  // "additional_params"

  // A null evaluator answers every call with the default value.
  explicit MOXCustomFunctionCall(std::shared_ptr<MOXCustomEvaluator> evaluator);

  bool isCacheable() const override { return false; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;

  const std::shared_ptr<MOXCustomEvaluator>& functionCallEvaluator() const { return evaluator_; }

 private:
  const std::shared_ptr<MOXCustomEvaluator> evaluator_;
};

}  // namespace loomset
