// Bounded flushes through the C interface.
#include "capi/CErrors.h"
#include "loomset/MOXManager.h"
#include "loomset/PLU.h"
#include "loomset/loomset.h"

using loomset::capi::fail;
using loomset::capi::guarded;

extern "C" {

loomset_status loomset_flush(double timeoutSeconds, loomset_flush_result* outResult) {
  return guarded([&] {
    if (!(timeoutSeconds >= 0))
      return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "time-out is negative or not a number");
    const loomset::MOXFlushResult result = loomset::MOXManager::instance()->flush(timeoutSeconds);
    if (outResult) {
      *outResult =
          loomset_flush_result{result.hitsSent,   result.hitsDeleted, result.hitsLeft,
                               result.pixelsSent, result.pixelsLeft,  result.timedOut ? 1 : 0};
    }
    return LOOMSET_OK;
  });
}

loomset_status loomset_analytics_flush(double timeoutSeconds, loomset_flush_result* outResult) {
  return guarded([&] {
    if (!(timeoutSeconds >= 0))
      return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "time-out is negative or not a number");
    const loomset::PLUFlushResult result = loomset::PLU::sharedInstance()->flush(timeoutSeconds);
    if (outResult) {
      *outResult = loomset_flush_result{
          result.hitsSent, result.hitsDeleted, result.hitsLeft, 0, 0, result.timedOut ? 1 : 0};
    }
    return LOOMSET_OK;
  });
}

}  // extern "C"
