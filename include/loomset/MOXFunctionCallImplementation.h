// The one interface of every tag, macro and predicate a container can name. A container's
// function call names its implementation with the function id held in its "function" property;
// the runtime evaluates the call's properties into a parameter map, checks the required keys and
// calls `evaluate`.
//
// Implementations are owned by the runtime that registered them (shared, so a handler writer may
// keep one too). `evaluate` may be called on any thread, also concurrently: a value lookup may
// run while another thread evaluates tags. Implementations therefore keep no mutable state of
// their own, or guard it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "loomset/Export.h"
#include "loomset/MOXPValue.h"
#include "loomset/MOXParameterMap.h"

namespace loomset {

class LOOMSET_EXPORT MOXFunctionCallImplementation {
 public:
  // The reserved property keys.
  static const std::string& functionKey();         // "function"
  static const std::string& instanceNameKey();     // "instance_name"
  static const std::string& notDefaultMacroKey();  // "not_default_macro"

  MOXFunctionCallImplementation(std::string functionId, std::vector<std::string> requiredKeys);
  virtual ~MOXFunctionCallImplementation() = default;
  MOXFunctionCallImplementation(const MOXFunctionCallImplementation&) = delete;
  MOXFunctionCallImplementation& operator=(const MOXFunctionCallImplementation&) = delete;

  const std::string& instanceFunctionId() const { return functionId_; }
  const std::vector<std::string>& requiredKeys() const { return requiredKeys_; }

  // True when the result depends on the parameters alone, so that equal static parameters give
  // an equal result that the runtime may cache for its whole life.
  virtual bool isCacheable() const = 0;
  // The implementation's work. Failure is reported by returning MOXTypes::defaultValue(); an
  // exception is not caught by the runtime and reaches whoever asked for the evaluation.
  virtual ValuePtr evaluate(const MOXParameterMap& parameters) = 0;

  // True when every required key is among the parameters.
  bool hasRequiredKeys(const MOXParameterMap& parameters) const;
  bool hasRequiredKeys(const std::vector<std::string>& keys) const;
  // The required keys as a set's text form: "{(arg0, arg1)}".
  std::string requiredKeysDescription() const;

 private:
  const std::string functionId_;
  const std::vector<std::string> requiredKeys_;
};

using MOXFunctionCallImplementationPtr = std::shared_ptr<MOXFunctionCallImplementation>;

}  // namespace loomset
