#include "runtime/macros/MOXCustomFunctionCall.h"

#include <utility>

#include "loomset/MOXTypes.h"

namespace loomset {

const std::string& MOXCustomFunctionCall::functionId() {
  static const std::string id = "_func";
  return id;
}

const std::string& MOXCustomFunctionCall::functionCallNameKey() {
  static const std::string key = "function_call_macro_name";
  return key;
}

const std::string& MOXCustomFunctionCall::additionalParametersKey() {
  static const std::string key = "additional_params";
  return key;
}

MOXCustomFunctionCall::MOXCustomFunctionCall(std::shared_ptr<MOXCustomEvaluator> evaluator)
    : MOXFunctionCallImplementation(functionId(), {functionCallNameKey()}),
      evaluator_(std::move(evaluator)) {}

ValuePtr MOXCustomFunctionCall::evaluate(const MOXParameterMap& parameters) {
  (void)parameters;
  return MOXTypes::defaultValue();
}

}  // namespace loomset
