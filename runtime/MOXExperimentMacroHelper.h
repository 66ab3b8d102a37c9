// Applies an experiment supplemental to the data layer: clears keys, pushes prepared maps and
// draws variant numbers for chosen keys.
#pragma once

#include <memory>

#include "loomset/MOXDataLayer.h"
#include "loomset/proto/serving.pb.h"

namespace loomset {

class MOXExperimentMacroHelper {
 public:
  static void handleExperimentSupplemental(const std::shared_ptr<MOXDataLayer>& dataLayer,
                                           const MOXPSupplemental& supplemental);
};

}  // namespace loomset
