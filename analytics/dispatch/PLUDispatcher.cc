#include "analytics/dispatch/PLUDispatcher.h"

#include "analytics/dispatch/PLUBatchingDispatcher.h"
#include "analytics/model/PLUSampling.h"

namespace loomset {

std::optional<PLUHitMap> plu_buildHitForStorage(PLUTrackerModel& model, bool optOut) {
  if (optOut) return std::nullopt;
  PLUHitMap hit = model.buildDictionary();
  if (PLUSampling::shouldSampleOut(hit)) return std::nullopt;
  return hit;
}

std::shared_ptr<PLUDispatcher> plu_createDefaultDispatcher(std::string* error) {
  auto dispatcher = PLUBatchingDispatcher::dispatcher();
  if (!dispatcher && error) *error = "no hit store is available";
  return dispatcher;
}

}  // namespace loomset
