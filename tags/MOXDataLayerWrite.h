// "_dlw": pushes each Map of the List "value" into the data layer, in order, and then clears the
// subtree (and its persisted entries) under "clear_data_layer_prefix". Unusable parameters are
// skipped silently. Pushes made while the data layer delivers an event are queued behind it.
#pragma once

#include <memory>
#include <string>

#include "loomset/MOXDataLayer.h"
#include "loomset/MOXTrackingTag.h"

namespace loomset {

class MOXDataLayerWrite final : public MOXTrackingTag {
 public:
  static const std::string& functionId();                // "_dlw"
  static const std::string& valueKey();                  // "value"
  static const std::string& clearPersistentPrefixKey();  // "clear_data_layer_prefix"

  explicit MOXDataLayerWrite(std::shared_ptr<MOXDataLayer> dataLayer);

 protected:
  void evaluateTrackingTag(const MOXParameterMap& parameters) override;

 private:
  void pushToDataLayer(const ValuePtr& value);
  void clearPersistent(const ValuePtr& prefix);

  const std::shared_ptr<MOXDataLayer> dataLayer_;
};

}  // namespace loomset
