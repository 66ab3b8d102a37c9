// How the saved copy reaches a container: the storage's background load reports here.
//
// - A saved copy that arrives while the container still holds only its default container is
//   applied, the container's refresh time becomes the copy's time stamp, and the next fetch is
//   scheduled for the rest of 12 hours. The application hears of success either way (a copy that
//   arrives after a fetched resource is simply not applied).
// - A copy that cannot be used (it holds no resource, or its resource does not expand) is not
//   adopted and is reported like an unreadable one: kMOXContainerCallbackRefreshFailureIOError.
// - On failure the application hears the translated failure and, while the container is still
//   default, a fetch starts at once.
//
// Every operation runs under the container's lock and does nothing once the container is closed.
//
// Ownership: holds the container weakly (the container owns the storage that holds this
// callback) and the application's callback strongly until `close`.
// Threads: `startLoad` arrives on the background executor, the rest on the main loop.
#pragma once

#include <memory>

#include "container/loading/MOXResourceStorage.h"
#include "loomset/MOXContainer.h"

namespace loomset {

class MOXDiskLoadCallback final : public MOXDiskLoadCallbackInterface {
 public:
  MOXDiskLoadCallback(std::shared_ptr<MOXContainerCallback> callback,
                      std::weak_ptr<MOXContainer> container);

  void startLoad() override;
  void onSuccess(const MOXPResourceWithMetadata& resource) override;
  void onFailure(MOXLoadFailure failure) override;
  // Forgets the application's callback; requires the container's lock.
  void close() { callback_.reset(); }

 private:
  void fail(MOXContainer& container, MOXLoadFailure failure) LOOMSET_REQUIRES(container.mu_);
  // Applies the copy; false when it cannot be used.
  bool apply(MOXContainer& container, const MOXPResourceWithMetadata& resource)
      LOOMSET_REQUIRES(container.mu_);

  std::shared_ptr<MOXContainerCallback> callback_;  // guarded by the container's lock
  const std::weak_ptr<MOXContainer> container_;
};

}  // namespace loomset
