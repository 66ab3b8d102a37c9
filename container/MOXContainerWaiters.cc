#include "container/MOXContainerWaiters.h"

namespace loomset {

void MOXWaitForNonDefaultRefresh::containerRefreshSuccess(
    const std::shared_ptr<MOXContainer>& container, MOXContainerCallbackRefreshType) {
  if (const auto opener = opener_.lock()) opener->callNotifiers(container);
}

void MOXWaitForNonDefaultRefresh::containerRefreshFailure(
    const std::shared_ptr<MOXContainer>& container, MOXContainerCallbackRefreshFailure,
    MOXContainerCallbackRefreshType refreshType) {
  if (refreshType != kMOXContainerCallbackRefreshTypeNetwork) return;
  if (const auto opener = opener_.lock()) opener->callNotifiers(container);
}

void MOXWaitForFresh::containerRefreshSuccess(const std::shared_ptr<MOXContainer>& container,
                                              MOXContainerCallbackRefreshType refreshType) {
  if (refreshType == kMOXContainerCallbackRefreshTypeSaved &&
      !(container->lastRefreshTime() > oldestTimeToBeFresh_)) {
    return;
  }
  if (const auto opener = opener_.lock()) opener->callNotifiers(container);
}

void MOXWaitForFresh::containerRefreshFailure(const std::shared_ptr<MOXContainer>& container,
                                              MOXContainerCallbackRefreshFailure,
                                              MOXContainerCallbackRefreshType refreshType) {
  if (refreshType != kMOXContainerCallbackRefreshTypeNetwork) return;
  if (const auto opener = opener_.lock()) opener->callNotifiers(container);
}

}  // namespace loomset
