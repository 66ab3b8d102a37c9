#include "tags/MOXHitDelivery.h"

#include <utility>

#include "loomset/PLU.h"

namespace loomset {

double MOXHitDelivery::dispatchInterval() {
  return PLU::sharedInstance()->dispatchInterval();
}

void MOXHitDelivery::setDispatchInterval(double seconds) {
  PLU::sharedInstance()->setDispatchInterval(seconds);
}

void MOXHitDelivery::dispatch() {
  PLU::sharedInstance()->dispatch();
}

void MOXHitDelivery::dispatchWithCompletionHandler(
    std::function<void(PLUDispatchOutcome)> handler) {
  if (!handler) {
    dispatch();
    return;
  }
  PLU::sharedInstance()->dispatchWithCompletionHandler(
      [handler = std::move(handler)](PLUDispatchOutcome outcome) {
        switch (outcome) {
          case kPLUDispatchNothingToSend:  // the pixel dispatcher would run here
          case kPLUDispatchSent:
          case kPLUDispatchFailed:
            handler(outcome);
            return;
        }
      });
}

}  // namespace loomset
