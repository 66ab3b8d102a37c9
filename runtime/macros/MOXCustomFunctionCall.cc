#include "runtime/macros/MOXCustomFunctionCall.h"

#include <exception>
#include <utility>

#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"

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

namespace {

// The handler's parameters: the entries of "additional_params" with their keys as text, or null
// (logged) when the parameter is not a map. Absent, it gives an empty dictionary.
std::shared_ptr<Dictionary> handlerParameters(const ValuePtr& additional) {
  auto args = Dictionary::create();
  if (!additional) return args;
  const ObjectPtr converted = MOXTypes::valueToObject(additional);
  const Dictionary* map = asDictionary(converted);
  if (!map) {
    MOXLog::warning("FunctionCallMacro: expected additional_params to be a map.");
    return nullptr;
  }
  for (const auto& [key, value] : map->entries()) {
    args->setObject(value, MOXTypes::objectToString(key)->text());
  }
  return args;
}

}  // namespace

ValuePtr MOXCustomFunctionCall::evaluate(const MOXParameterMap& parameters) {
  const std::string name = MOXTypes::valueToString(parameters.get(functionCallNameKey()))->text();
  const auto args = handlerParameters(parameters.get(additionalParametersKey()));
  if (!args) return MOXTypes::defaultValue();
  if (!evaluator_) return MOXTypes::defaultValue();

  // The application's code may throw anything; none of it may reach the runtime, which would
  // end the tag pass and skip the event's other tags.
  try {
    return MOXTypes::objectToValue(evaluator_->evaluate(name, args));
  } catch (const std::exception& e) {
    MOXLog::warning("Custom macro/tag " + name + " threw exception " + e.what());
  } catch (...) {
    MOXLog::warning("Custom macro/tag " + name + " threw exception (not a std::exception)");
  }
  return MOXTypes::defaultValue();
}

}  // namespace loomset
