// The application's entry point to the container half: one manager per process. It owns the data
// layer, keeps the open containers by id, opens new ones, carries the refresh mode and the
// container-server address, applies preview links, and forwards dispatch requests to the hit
// dispatchers.
//
// Created on first use with the platform bundle in force at that moment: its data layer keeps
// values pushed with a lifetime under that bundle's data root and restores them when a manager is
// next created over it. Every event pushed into the data layer (an update with an "event" entry)
// makes every open container evaluate its tags, on the pushing thread.
//
//   auto container = MOXManager::instance()->openContainerById("GTM-XXXX", callback);
//
// or, to wait for a loaded version, MOXContainerOpener.
//
// Ownership: the process keeps the manager it remembers (`instance`); `clearManagerInstance`
// forgets it. The manager keeps each open container until the container closes.
// Threads: every operation may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "loomset/Export.h"
#include "loomset/MOXContainer.h"
#include "loomset/MOXContainerCallback.h"
#include "loomset/MOXContainerStatus.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXFlushResult.h"
#include "loomset/MOXLog.h"
#include "loomset/detail/Mutex.h"

namespace loomset {

// The analytics half's dispatch outcome (nothing to send 0, sent 1, failed 2).
enum PLUDispatchOutcome : int;
class MOXContainerStatusObservers;
struct Platform;

enum MOXRefreshMode : std::int32_t {
  // Saved and fetched resources are loaded and refreshed.
  kMOXRefreshModeStandard = 0,
  // Only the default container shipped with the application is used; nothing is loaded or
  // refreshed, and containers never call their callbacks.
  kMOXRefreshModeDefaultContainer = 1,
};

class LOOMSET_EXPORT MOXManager : public std::enable_shared_from_this<MOXManager> {
 public:
  using DispatchCompletion = std::function<void(PLUDispatchOutcome)>;

  // The process-wide manager, created on first use.
  static std::shared_ptr<MOXManager> instance();
  // With `sameInstance`, the remembered manager when there is one; otherwise a new manager,
  // which becomes the remembered one.
  static std::shared_ptr<MOXManager> createWithSameInstance(bool sameInstance);
  // Forgets the remembered manager (for tests); the next `instance` creates a new one.
  static void clearManagerInstance();
  ~MOXManager();
  MOXManager(const MOXManager&) = delete;
  MOXManager& operator=(const MOXManager&) = delete;

  // Opens and starts loading the container; `callback` (may be null) hears about its loads.
  // Null, with the error "Container id: ID has already been opened", when the id is open.
  std::shared_ptr<MOXContainer> openContainerById(const std::string& containerId,
                                                  std::shared_ptr<MOXContainerCallback> callback);
  // A new container for the id and this manager; not opened, not kept.
  std::shared_ptr<MOXContainer> containerById(const std::string& containerId);
  // The open container of that id, or null.
  std::shared_ptr<MOXContainer> getContainerById(const std::string& containerId);
  // Forgets the container of that id (a closing container calls it).
  void removeContainerById(const std::string& containerId);
  // Makes every open container evaluate its tags for the event.
  void refreshTagsInAllContainers(const std::string& eventName);

  // Applies a preview link: a link that starts previewing an id makes that container fetch the
  // unpublished version (and stop any other preview), an exit link for the id being previewed
  // returns its container to its normal fetches; the containers affected refresh (within their
  // token buckets). False for anything that is not a preview link.
  bool previewWithUrl(const std::string& url);

  MOXRefreshMode refreshMode() const;
  // Applies to containers from their next load or refresh on.
  void setRefreshMode(MOXRefreshMode mode);
  const std::shared_ptr<MOXDataLayer>& dataLayer() const { return dataLayer_; }
  // The container server ("https://host[:port]", no trailing "/") for containers opened from now
  // on; nothing means the library's default server.
  std::optional<std::string> veskServerAddress() const;
  void setVeskServerAddress(std::optional<std::string> address);
  // The container half's logger (MOXLog's).
  std::shared_ptr<MOXLogger> logger() const;
  void setLogger(std::shared_ptr<MOXLogger> logger);

  // Seconds between periodic dispatches of stored hits: the pixel dispatcher's; setting it sets
  // the pixel and the analytics dispatchers' (0 or less: only on request).
  double dispatchInterval();
  void setDispatchInterval(double seconds);
  // Sends stored hits now: pixels, then analytics hits.
  void dispatch();
  // Sends stored hits now: the analytics hits first; only when there were none, one stored pixel.
  // The handler hears the outcome once (on the analytics worker thread, or on "MOXThread" when
  // the pixel dispatcher answers). A null handler is the same as `dispatch`.
  void dispatchWithCompletionHandler(DispatchCompletion handler);

  // Saves every store of both halves, then sends stored analytics hits and pixels until none is
  // left, a request gets no answer, or `timeoutSeconds` have passed; returns no later than that
  // (see `PLU::flush`, which sends the analytics hits; the pixels get what time is left). Safe on
  // the main loop's thread; on a worker thread of the library it only saves and answers what is
  // stored.
  MOXFlushResult flush(double timeoutSeconds);

  // Hears the status of every container this manager opens (see MOXContainerStatus.h), on the
  // main loop. Answers the token that removes it again (0 for an empty observer).
  MOXObserverToken addContainerStatusObserver(MOXContainerStatusObserver observer);
  // Once this returns on the main loop, the observer is not called again.
  void removeContainerStatusObserver(MOXObserverToken token);

  // The application calls one of these when it is about to resign active or to terminate: the
  // pixel hit store, the analytics hit stores and the data-layer store save what they hold before
  // the call returns. (PLU's entry points of the same names do the same.)
  static void applicationWillResignActive();
  static void applicationWillTerminate();

 private:
  friend class MOXContainer;

  explicit MOXManager(std::shared_ptr<const Platform> platform);
  void registerListeners();
  // Hands a container's status to the manager's observers.
  void postContainerStatus(const MOXContainerStatus& status);

  // Constant after construction.
  const std::shared_ptr<const Platform> platform_;
  const std::shared_ptr<MOXDataLayer> dataLayer_;
  const std::shared_ptr<MOXContainerStatusObservers> statusObservers_;

  std::atomic<std::int32_t> refreshMode_{kMOXRefreshModeStandard};

  mutable Mutex mu_;
  std::map<std::string, std::shared_ptr<MOXContainer>> containers_ LOOMSET_GUARDED_BY(mu_);
  std::optional<std::string> veskServerAddress_ LOOMSET_GUARDED_BY(mu_);
};

}  // namespace loomset
