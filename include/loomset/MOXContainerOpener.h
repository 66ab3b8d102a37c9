// Opening a container and waiting, up to a timeout, for a version good enough to use:
//
//   auto container = MOXContainerOpener::openContainerWithId(
//       "GTM-XXXX", MOXManager::instance(), kMOXOpenTypePreferNonDefault, nullptr)->get();
//   std::string greeting = container->stringForKey("greeting");
//
// The future completes with the container when the open type is satisfied or when the timeout
// (2 seconds unless given) passes, whichever comes first; on timeout the container is handed over
// as it is, possibly still holding only its default container.
//
// - kMOXOpenTypePreferNonDefault: the saved copy or a fetched resource has been applied, or a
//   fetch has failed (a missing saved copy alone does not complete it).
// - kMOXOpenTypePreferFresh: a resource fetched within the last 12 hours has been applied (a
//   saved copy that old, or a fetched one), or a fetch has ended either way.
//
// Opening an id that is already open completes at once with that container; while an opening of
// the id is under way, later openings join it and complete with it (its open type and timeout
// apply). In the default-container refresh mode every opening completes at its timeout.
//
// Threads: every operation may be called from any thread. Timeouts run on the library's main
// loop (the platform bundle's `mainLoop`), so `get` may wait on any thread but that loop's own:
// there it cannot wait (nothing would complete the opening) and answers at once with the
// container as it is. Notifiers are called on the thread that completes the opening (the main
// loop, or the opening thread when the id was already open).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "loomset/Export.h"
#include "loomset/MOXContainer.h"
#include "loomset/detail/Mutex.h"

namespace loomset {

class EventLoop;
class MOXManager;
class TimerHandle;

enum MOXOpenType : std::int32_t {
  kMOXOpenTypePreferNonDefault = 0,
  kMOXOpenTypePreferFresh = 1,
};

class LOOMSET_EXPORT MOXContainerFuture {
 public:
  virtual ~MOXContainerFuture() = default;
  // The container: at once when the opening has completed, else after waiting for it (at most
  // the opening's timeout, provided the library's main loop runs).
  virtual std::shared_ptr<MOXContainer> get() = 0;
  // True once the opening has completed.
  virtual bool isDone() = 0;
};

class LOOMSET_EXPORT MOXContainerOpenerNotifier {
 public:
  virtual ~MOXContainerOpenerNotifier() = default;
  virtual void containerAvailable(const std::shared_ptr<MOXContainer>& container) = 0;
};

class LOOMSET_EXPORT MOXContainerOpener : public std::enable_shared_from_this<MOXContainerOpener> {
 public:
  // Opens the container and returns its future at once. `timeoutSeconds` null means
  // `defaultTimeout()`; 100 or more is taken as given, with the warning "Excessive timeout
  // detected (...). Timeout should be in seconds.". Null, with an error log, for an empty id or a
  // null manager.
  static std::shared_ptr<MOXContainerFuture> openContainerWithId(
      const std::string& containerId, const std::shared_ptr<MOXManager>& moxManager,
      MOXOpenType openType, const double* timeoutSeconds);
  static std::shared_ptr<MOXContainerFuture> openContainerWithId(
      const std::string& containerId, const std::shared_ptr<MOXManager>& moxManager,
      MOXOpenType openType, double timeoutSeconds);
  // The same, completing by calling the notifier once. Nothing is opened, with an error log, for
  // an empty id or a null manager or notifier.
  static void openContainerWithId(const std::string& containerId,
                                  const std::shared_ptr<MOXManager>& moxManager,
                                  MOXOpenType openType, const double* timeoutSeconds,
                                  std::shared_ptr<MOXContainerOpenerNotifier> notifier);

  static constexpr double defaultTimeout() { return 2.0; }

  ~MOXContainerOpener();
  MOXContainerOpener(const MOXContainerOpener&) = delete;
  MOXContainerOpener& operator=(const MOXContainerOpener&) = delete;

 private:
  friend class MOXWaitForNonDefaultRefresh;
  friend class MOXWaitForFresh;

  MOXContainerOpener(std::string containerId, std::shared_ptr<MOXManager> moxManager,
                     const double* timeoutSeconds,
                     std::shared_ptr<MOXContainerOpenerNotifier> notifier);
  // 0: prefer non-default, 1: prefer fresh.
  void openWithRefreshType(int refreshType);
  void handleTimer(const std::shared_ptr<MOXContainer>& container);
  // Completes the opening once: hands the container to every notifier waiting for the id.
  void callNotifiers(const std::shared_ptr<MOXContainer>& container);

  // Constant after construction.
  const std::string containerId_;
  const std::shared_ptr<MOXManager> moxManager_;
  const double timeout_;

  Mutex mu_;
  std::shared_ptr<MOXContainerOpenerNotifier> notifier_
      LOOMSET_GUARDED_BY(mu_);  // until handed over
  std::shared_ptr<MOXContainer> container_ LOOMSET_GUARDED_BY(mu_);
  std::shared_ptr<TimerHandle> timer_ LOOMSET_GUARDED_BY(mu_);
  bool haveNotified_ LOOMSET_GUARDED_BY(mu_) = false;
};

}  // namespace loomset
