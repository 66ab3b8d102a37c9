#include "analytics/dispatch/PLUDispatcher.h"

#include "analytics/dispatch/PLUBatchingDispatcher.h"
#include "analytics/dispatch/PLUFlushRun.h"
#include "analytics/model/PLUSampling.h"

namespace loomset {

std::optional<PLUHitMap> plu_buildHitForStorage(PLUTrackerModel& model, bool optOut) {
  if (optOut) return std::nullopt;
  PLUHitMap hit = model.buildDictionary();
  if (PLUSampling::shouldSampleOut(hit)) return std::nullopt;
  return hit;
}

void PLUDispatcher::flush(std::shared_ptr<PLUFlushRun> run) {
  run->finish(false);
}

std::shared_ptr<PLUDispatcher> plu_createDefaultDispatcher(const PLUContext& context,
                                                           std::string* error) {
  PLUBatchingDispatcher::Options options;
  options.context = context.completed();
  if (!options.context.hitStore) {
    options.context.hitStore =
        PLUDataStore::create(options.context.platform, options.context.worker);
  }
  auto dispatcher = PLUBatchingDispatcher::create(std::move(options));
  if (!dispatcher && error) *error = "no hit store is available";
  return dispatcher;
}

}  // namespace loomset
