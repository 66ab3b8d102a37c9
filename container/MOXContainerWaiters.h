// The callbacks an opening gives its container, which complete the opening when the container
// holds a version good enough for the open type. Beginnings never complete it.
//
//   event                      MOXWaitForNonDefaultRefresh   MOXWaitForFresh
//   saved copy applied         complete                      complete if fetched after
//                                                            `oldestTimeToBeFresh`
//   fetch succeeded            complete                      complete
//   saved copy failed          wait                          wait
//   fetch failed               complete                      complete
//
// Ownership: a waiter holds its opener weakly; the opener's pending timeout keeps it alive, and
// once it has completed it is not needed any more.
// Threads: called by the container, under its lock (see MOXContainerCallback).
#pragma once

#include <memory>

#include "loomset/MOXContainerCallback.h"
#include "loomset/MOXContainerOpener.h"

namespace loomset {

class MOXWaitForNonDefaultRefresh final : public MOXContainerCallback {
 public:
  explicit MOXWaitForNonDefaultRefresh(std::weak_ptr<MOXContainerOpener> opener)
      : opener_(std::move(opener)) {}
  void containerRefreshBegin(const std::shared_ptr<MOXContainer>&,
                             MOXContainerCallbackRefreshType) override {}
  void containerRefreshSuccess(const std::shared_ptr<MOXContainer>& container,
                               MOXContainerCallbackRefreshType refreshType) override;
  void containerRefreshFailure(const std::shared_ptr<MOXContainer>& container,
                               MOXContainerCallbackRefreshFailure failure,
                               MOXContainerCallbackRefreshType refreshType) override;

 private:
  const std::weak_ptr<MOXContainerOpener> opener_;
};

class MOXWaitForFresh final : public MOXContainerCallback {
 public:
  // `oldestTimeToBeFresh`: milliseconds since 1970.
  MOXWaitForFresh(std::weak_ptr<MOXContainerOpener> opener, double oldestTimeToBeFresh)
      : opener_(std::move(opener)), oldestTimeToBeFresh_(oldestTimeToBeFresh) {}
  void containerRefreshBegin(const std::shared_ptr<MOXContainer>&,
                             MOXContainerCallbackRefreshType) override {}
  void containerRefreshSuccess(const std::shared_ptr<MOXContainer>& container,
                               MOXContainerCallbackRefreshType refreshType) override;
  void containerRefreshFailure(const std::shared_ptr<MOXContainer>& container,
                               MOXContainerCallbackRefreshFailure failure,
                               MOXContainerCallbackRefreshType refreshType) override;

 private:
  const std::weak_ptr<MOXContainerOpener> opener_;
  const double oldestTimeToBeFresh_;
};

}  // namespace loomset
