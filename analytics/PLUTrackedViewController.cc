#include "loomset/PLUTrackedViewController.h"

#include "analytics/PLUContext.h"
#include "analytics/PLULog.h"
#include "loomset/PLUFields.h"

namespace loomset {

namespace {

// The default tracker of the shared facade; none before the facade exists.
std::shared_ptr<PLUTracker> facadeDefaultTracker() {
  const auto context = PLUContext::shared();
  return context && context->defaultTracker ? context->defaultTracker() : nullptr;
}

}  // namespace

void PLUTrackedViewController::viewDidAppear(bool) {
  if (!screenName_) {
    PLU_LOG_INFO("Tracked view controller missing view name.");
    return;
  }
  std::shared_ptr<PLUTracker> tracker = tracker_ ? tracker_ : facadeDefaultTracker();
  if (!tracker) return;
  tracker->plu_set(kPLUScreenName, *screenName_);
  tracker->plu_send(PLUHitMap{{kPLUHitType, std::string(kPLUScreenView)}});
}

}  // namespace loomset
