#include "loomset/PLUTrackedViewController.h"

#include "analytics/PLULog.h"
#include "loomset/PLU.h"
#include "loomset/PLUFields.h"

namespace loomset {

void PLUTrackedViewController::viewDidAppear(bool) {
  if (!screenName_) {
    PLU_LOG_INFO("Tracked view controller missing view name.");
    return;
  }
  std::shared_ptr<PLUTracker> tracker =
      tracker_ ? tracker_ : PLU::sharedInstance()->plu_defaultTracker();
  if (!tracker) return;
  tracker->plu_set(kPLUScreenName, *screenName_);
  tracker->plu_send(PLUHitMap{{kPLUHitType, std::string(kPLUScreenView)}});
}

}  // namespace loomset
