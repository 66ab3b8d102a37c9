#include "container/MOXDiskLoadCallback.h"

#include <utility>

#include "container/MOXRefreshPolicy.h"
#include "loomset/MOXLog.h"

namespace loomset {

MOXDiskLoadCallback::MOXDiskLoadCallback(std::shared_ptr<MOXContainerCallback> callback,
                                         std::weak_ptr<MOXContainer> container)
    : callback_(std::move(callback)), container_(std::move(container)) {}

void MOXDiskLoadCallback::startLoad() {
  const auto container = container_.lock();
  if (!container) return;
  RecursiveMutexLock lock(container->mu_);
  if (container->closed_) return;
  if (callback_) callback_->containerRefreshBegin(container, kMOXContainerCallbackRefreshTypeSaved);
}

void MOXDiskLoadCallback::onSuccess(const MOXPResourceWithMetadata& resource) {
  const auto container = container_.lock();
  if (!container) return;
  RecursiveMutexLock lock(container->mu_);
  if (container->closed_) return;
  // Applied only while nothing newer is: a saved copy never overrides a fetched resource.
  if (container->lastRefreshTime_ == 0) {
    if (!apply(*container, resource)) {
      fail(*container, kMOXLoadFailureIOError);
      return;
    }
    container->source_ = kMOXContainerSourceSaved;
    container->postStatus();
  }
  if (callback_) {
    callback_->containerRefreshSuccess(container, kMOXContainerCallbackRefreshTypeSaved);
  }
}

void MOXDiskLoadCallback::onFailure(MOXLoadFailure failure) {
  const auto container = container_.lock();
  if (!container) return;
  RecursiveMutexLock lock(container->mu_);
  if (container->closed_) return;
  fail(*container, failure);
}

void MOXDiskLoadCallback::fail(MOXContainer& container, MOXLoadFailure failure) {
  if (callback_) {
    callback_->containerRefreshFailure(container.shared_from_this(),
                                       MOXRefreshPolicy::savedLoadFailure(failure),
                                       kMOXContainerCallbackRefreshTypeSaved);
  }
  // Nothing usable on disk: fetch at once rather than wait for a schedule that never started.
  if (container.lastRefreshTime_ == 0) {
    container.loadAfterDelay(0);
    container.postStatus();
  }
}

bool MOXDiskLoadCallback::apply(MOXContainer& container, const MOXPResourceWithMetadata& saved) {
  // Two shapes: the fetched message kept whole (what the container writes), or a plain resource.
  MOXPLegacyRawProtoSupplementedResource loaded;
  if (saved.has_supplemented_resource()) {
    loaded = saved.supplemented_resource();
    if (!loaded.has_resource()) {
      // Adopting it would replace the default container with an empty one.
      MOXLog::warning("Resource from disk not initialized.");
      return false;
    }
  } else {
    *loaded.mutable_resource() = saved.resource();
    loaded.set_fingerprint(saved.resource().version());
  }
  if (!container.setupEvaluatorsWithResource(loaded.resource())) return false;
  container.lastLoadedSupplementedResource_ = std::move(loaded);
  const auto& supplementals = container.lastLoadedSupplementedResource_.supplemental();
  if (!supplementals.empty()) container.setSupplementals(supplementals);

  MOXLog::verbose("Setting refresh time to saved time: " + std::to_string(saved.time_stamp()));
  container.lastRefreshTime_ = static_cast<double>(saved.time_stamp());
  container.loadAfterDelay(MOXRefreshPolicy::delayAfterSavedResource(
      container.lastRefreshTime_, container.currentTimeInMilliseconds()));
  return true;
}

}  // namespace loomset
