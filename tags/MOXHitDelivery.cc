#include "tags/MOXHitDelivery.h"

#include <utility>

#include "loomset/PLU.h"
#include "tags/MOXDispatcher.h"

namespace loomset {

double MOXHitDelivery::dispatchInterval() {
  return MOXDispatcher::instance()->dispatchInterval();
}

void MOXHitDelivery::setDispatchInterval(double seconds) {
  MOXDispatcher::instance()->setDispatchInterval(seconds);
  PLU::sharedInstance()->setDispatchInterval(seconds);
}

void MOXHitDelivery::dispatch() {
  MOXDispatcher::instance()->dispatch();
  PLU::sharedInstance()->dispatch();
}

void MOXHitDelivery::dispatchWithCompletionHandler(
    std::function<void(PLUDispatchOutcome)> handler) {
  if (!handler) {
    dispatch();
    return;
  }
  const auto pixels = MOXDispatcher::instance();
  PLU::sharedInstance()->dispatchWithCompletionHandler(
      [handler = std::move(handler), pixels](PLUDispatchOutcome outcome) {
        switch (outcome) {
          case kPLUDispatchNothingToSend:
            pixels->dispatchWithCallback(handler);
            return;
          case kPLUDispatchSent:
          case kPLUDispatchFailed:
            handler(outcome);
            return;
        }
      });
}

void MOXHitDelivery::saveAllStores() {
  // The analytics facade's entry point saves its own stores and runs every registered saver.
  PLU::applicationWillResignActive();
}

}  // namespace loomset
