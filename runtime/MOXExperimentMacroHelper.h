// Applies an experiment supplemental to the data layer, in this order: clears the listed key
// prefixes (and their persisted entries), pushes the prepared maps, and gives each listed key a
// variant number drawn from its bounds (or keeps the number already there when asked to and it
// lies within them), optionally persisted for a lifetime.
//
// Stateless: every operation works on the data layer it is given. Nothing is raised: each item
// that cannot be applied is logged as a warning and skipped, and the items around it still apply.
// Draws come from the platform's RandomSource.
//
// Threads: runs on the thread that applies the resource; the data layer serialises the effects.
#pragma once

#include <cstdint>
#include <memory>

#include "loomset/Collections.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXPValue.h"
#include "loomset/platform/Platform.h"
#include "loomset/proto/serving.pb.h"

namespace loomset {

class MOXExperimentMacroHelper {
 public:
  static void handleExperimentSupplemental(const std::shared_ptr<MOXDataLayer>& dataLayer,
                                           const MOXPSupplemental& supplemental);

  static void clearKeys(MOXDataLayer& dataLayer, const MOXPQzExperimentSupplemental& experiment);
  static void pushValues(MOXDataLayer& dataLayer, const MOXPQzExperimentSupplemental& experiment);
  static void setRandomValues(MOXDataLayer& dataLayer,
                              const MOXPQzExperimentSupplemental& experiment);

  // The Value as a dictionary, or null when it does not convert to one.
  static std::shared_ptr<Dictionary> valueToMap(const MOXPValue& value);

  // The variant for bounds that are in order: minRandom plus a uniform draw below
  // maxRandom - minRandom (the upper bound is never drawn; equal bounds give minRandom).
  static std::int64_t drawInRange(RandomSource& random, std::int64_t minRandom,
                                  std::int64_t maxRandom);
};

}  // namespace loomset
