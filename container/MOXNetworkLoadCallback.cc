#include "container/MOXNetworkLoadCallback.h"

#include <cstdio>
#include <utility>

#include "container/MOXRefreshPolicy.h"
#include "container/preview/MOXPreviewManager.h"
#include "loomset/MOXLog.h"

namespace loomset {

MOXNetworkLoadCallback::MOXNetworkLoadCallback(std::shared_ptr<MOXContainerCallback> callback,
                                               std::weak_ptr<MOXContainer> container)
    : callback_(std::move(callback)), container_(std::move(container)) {}

void MOXNetworkLoadCallback::startLoad() {
  const auto container = container_.lock();
  if (!container) return;
  RecursiveMutexLock lock(container->mu_);
  if (container->closed_) return;
  container->fetching_ = true;
  container->nextFetchTime_ = 0;
  container->postStatus();
  if (callback_) {
    callback_->containerRefreshBegin(container, kMOXContainerCallbackRefreshTypeNetwork);
  }
}

void MOXNetworkLoadCallback::onSuccess(const MOXPLegacyRawProtoSupplementedResource& response) {
  const auto container = container_.lock();
  if (!container) return;
  RecursiveMutexLock lock(container->mu_);
  if (container->closed_) return;
  auto& loaded = container->lastLoadedSupplementedResource_;
  if (response.has_resource()) {
    // A resource that does not expand is refused whole: not adopted, not saved, its fingerprint
    // never sent, and the application told it failed.
    if (!container->setupEvaluatorsWithResource(response.resource())) {
      fail(*container, kMOXLoadFailureServerError);
      return;
    }
    *loaded.mutable_resource() = response.resource();
  } else if (!loaded.has_resource()) {
    // "Unchanged" means nothing when there is nothing to keep.
    fail(*container, kMOXLoadFailureServerError);
    return;
  }
  if (!response.supplemental().empty()) {
    container->setSupplementals(response.supplemental());
    *loaded.mutable_supplemental() = response.supplemental();
  }
  container->lastRefreshTime_ = container->currentTimeInMilliseconds();
  loaded.set_fingerprint(response.fingerprint().empty() ? loaded.resource().version()
                                                        : response.fingerprint());
  if (MOXLog::enabled(kMOXLogLevelVerbose)) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", container->lastRefreshTime_);
    MOXLog::verbose(std::string("Setting refresh time to current time: ") + text);
  }
  if (!MOXPreviewManager::instance()->isPreviewingContainer(container->containerId())) {
    container->saveResourceToDisk(loaded);
  }
  container->loadAfterDelay(MOXRefreshPolicy::kRefreshPeriodOnSuccess);
  container->source_ = kMOXContainerSourceNetwork;
  container->lastFetchOutcome_ = kMOXContainerFetchSucceeded;
  container->lastFetchTime_ = container->lastRefreshTime_;
  container->fetching_ = false;
  container->postStatus();
  if (callback_) {
    callback_->containerRefreshSuccess(container, kMOXContainerCallbackRefreshTypeNetwork);
  }
}

void MOXNetworkLoadCallback::onFailure(MOXLoadFailure failure) {
  const auto container = container_.lock();
  if (!container) return;
  RecursiveMutexLock lock(container->mu_);
  if (container->closed_) return;
  fail(*container, failure);
}

void MOXNetworkLoadCallback::fail(MOXContainer& container, MOXLoadFailure failure) {
  container.loadAfterDelay(MOXRefreshPolicy::kRefreshPeriodOnFailure);
  container.lastFetchOutcome_ = kMOXContainerFetchFailed;
  container.lastFetchFailure_ = MOXRefreshPolicy::networkLoadFailure(failure);
  container.lastFetchTime_ = container.currentTimeInMilliseconds();
  container.fetching_ = false;
  container.postStatus();
  if (callback_) {
    callback_->containerRefreshFailure(container.shared_from_this(),
                                       MOXRefreshPolicy::networkLoadFailure(failure),
                                       kMOXContainerCallbackRefreshTypeNetwork);
  }
}

}  // namespace loomset
