#include "analytics/PLUDispatcher.h"

#include "analytics/PLUSampling.h"

namespace loomset {

std::optional<PLUHitMap> plu_buildHitForStorage(PLUTrackerModel& model, bool optOut) {
  if (optOut) return std::nullopt;
  PLUHitMap hit = model.buildDictionary();
  if (PLUSampling::shouldSampleOut(hit)) return std::nullopt;
  return hit;
}

std::shared_ptr<PLUDispatcher> plu_createDefaultDispatcher(std::string* error) {
  // The persistent hit store and the batching dispatcher plug in here.
  if (error) *error = "no hit store is available";
  return nullptr;
}

}  // namespace loomset
