// How a fetched resource reaches a container: each fetch of its scheduler reports here.
//
// - A response with a resource that expands replaces the runtime; supplementals, when the
//   response has any, are applied and kept. The refresh time becomes now, the fingerprint is the
//   response's (or the resource's version), the result is saved to disk unless the container is
//   being previewed, and the next fetch follows in 12 hours.
// - A response without a resource means "unchanged" when the container already has a fetched
//   or saved resource (the runtime stays, supplementals still apply) and is a failure otherwise.
// - A resource that does not expand is a failure: nothing is adopted or saved.
// - On failure the next fetch follows in 1 hour, and the application hears the translated
//   failure; a refused resource counts as kMOXContainerCallbackRefreshFailureServerError.
//
// Every operation runs under the container's lock and does nothing once the container is closed.
//
// Ownership: holds the container weakly (the container owns the scheduler that holds this
// callback) and the application's callback strongly until `close`.
// Threads: every operation arrives on the scheduler's loop (the main loop).
#pragma once

#include <memory>

#include "container/loading/MOXResourceLoader.h"
#include "loomset/MOXContainer.h"

namespace loomset {

class MOXNetworkLoadCallback final : public MOXNetworkLoadCallbackInterface {
 public:
  MOXNetworkLoadCallback(std::shared_ptr<MOXContainerCallback> callback,
                         std::weak_ptr<MOXContainer> container);

  void startLoad() override;
  void onSuccess(const MOXPLegacyRawProtoSupplementedResource& resource) override;
  void onFailure(MOXLoadFailure failure) override;
  // Forgets the application's callback; requires the container's lock.
  void close() { callback_.reset(); }

 private:
  void fail(MOXContainer& container, MOXLoadFailure failure) LOOMSET_REQUIRES(container.mu_);

  std::shared_ptr<MOXContainerCallback> callback_;  // guarded by the container's lock
  const std::weak_ptr<MOXContainer> container_;
};

}  // namespace loomset
