#include "analytics/model/PLUTokenBucket.h"

#include <algorithm>

namespace loomset {

bool plu_takeTrackingCredit(PLUTokenBucket& bucket, double now) {
  const double elapsed = now - bucket.lastTrackTime;
  if (bucket.lastTrackTime != 0 && bucket.trackingCredits < PLUTokenBucket::kCapacity &&
      elapsed > 0) {
    bucket.trackingCredits =
        std::min(PLUTokenBucket::kCapacity,
                 bucket.trackingCredits + elapsed * PLUTokenBucket::kCreditsPerSecond);
  }
  bucket.lastTrackTime = now;
  if (bucket.trackingCredits >= 1) {
    bucket.trackingCredits -= 1;
    return true;
  }
  return false;
}

}  // namespace loomset
