// "_v": the data-layer value at the key path "name" (dots separate the levels). An explicit null
// in the data layer gives MOXTypes::defaultValue(); a path without value gives "default_value"
// (unchanged) or MOXTypes::defaultValue(). Not cacheable: the data layer changes.
#pragma once

#include <memory>
#include <string>

#include "loomset/MOXDataLayer.h"
#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXDataLayerMacro final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();       // "_v"
  static const std::string& nameKey();          // "name"
  static const std::string& defaultValueKey();  // "default_value"

  explicit MOXDataLayerMacro(std::shared_ptr<MOXDataLayer> dataLayer);
  bool isCacheable() const override { return false; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
  const std::shared_ptr<MOXDataLayer>& dataLayer() const { return dataLayer_; }

 private:
  const std::shared_ptr<MOXDataLayer> dataLayer_;
};

}  // namespace loomset
