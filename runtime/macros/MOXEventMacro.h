// "_e": the name of the event the runtime is evaluating, or MOXTypes::defaultValue() outside a
// tag evaluation. Holds its runtime weakly (the runtime owns it). Not cacheable.
#pragma once

#include <memory>
#include <string>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXRuntime;

class MOXEventMacro final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_e"

  explicit MOXEventMacro(std::weak_ptr<MOXRuntime> runtime);
  bool isCacheable() const override { return false; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;

 private:
  const std::weak_ptr<MOXRuntime> runtime_;
};

}  // namespace loomset
