// One opened container: the application reads configuration values by key, registers its own
// tag and macro handlers, and asks for refreshes.
//
// A container always answers: at creation it builds its runtime from the default container
// shipped with the application (the resource directory's file named by the container id: the
// serving resource in wire form, else ID.plist, else ID.json), or from an empty resource when
// there is none or none of them can be used. Once the manager has opened it, the copy saved after
// the last fetch replaces that default (read in the background), and fetches from the container
// server follow: at once when there is no usable saved copy, the rest of 12 hours after the saved
// copy's fetch, 12 hours after a successful fetch, 1 hour after a failed one, and at once on an
// accepted `refresh`. A fetched resource is saved to disk (not while the container is being
// previewed) and replaces the runtime. A resource that cannot be used is never adopted: the
// container keeps what it had and reports a failure. The application hears about each load
// through its MOXContainerCallback.
//
// Getters evaluate the macro named by the key with the current runtime and convert its value;
// any failure answers the type's default (the empty string, false, 0.0, 0) with an error log
// line. After `close` every getter answers its default and nothing is loaded any more; results
// of loads still under way are dropped.
//
// Ownership: create containers through MOXManager (`openContainerById`) or MOXContainerOpener.
// The manager keeps each open container until it is closed. A container holds its manager weakly
// and its handlers strongly.
//
// Threads: every operation may be called from any thread. The getters take no lock. Loads are
// applied on the library's main loop under the container's re-entrant lock; `refresh`, `close`
// and loading take the same lock. Handlers run on the thread that evaluates them (see
// MOXFunctionCallTagHandler and MOXFunctionCallMacroHandler).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "loomset/Export.h"
#include "loomset/MOXContainerCallback.h"
#include "loomset/MOXContainerStatus.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXExpandedResource.h"
#include "loomset/MOXFunctionCallMacroHandler.h"
#include "loomset/MOXFunctionCallTagHandler.h"
#include "loomset/MOXValueDetail.h"
#include "loomset/detail/Mutex.h"
#include "loomset/proto/serving.pb.h"

namespace loomset {

class MOXContainerStatusObservers;
class MOXDiskLoadCallback;
class MOXFunctionCallHandlers;
class MOXManager;
class MOXNetworkLoadCallback;
class MOXResourceLoaderScheduler;
class MOXResourceStorage;
class MOXRuntime;
struct Platform;

class LOOMSET_EXPORT MOXContainer : public std::enable_shared_from_this<MOXContainer> {
 public:
  // A container for the id, with the file storage for that id. Applications open containers
  // through the manager instead, which also loads them.
  static std::shared_ptr<MOXContainer> create(const std::string& containerId,
                                              const std::shared_ptr<MOXManager>& moxManager);
  // The same over a storage of the caller's (library and tests).
  static std::shared_ptr<MOXContainer> create(const std::string& containerId,
                                              const std::shared_ptr<MOXManager>& moxManager,
                                              std::shared_ptr<MOXResourceStorage> resourceStorage);
  ~MOXContainer();
  MOXContainer(const MOXContainer&) = delete;
  MOXContainer& operator=(const MOXContainer&) = delete;

  const std::string& containerId() const { return containerId_; }

  // The value of the macro named by the key, converted; the type's default on any failure.
  std::string stringForKey(const std::string& key);
  bool booleanForKey(const std::string& key);
  double doubleForKey(const std::string& key);
  std::int64_t int64ForKey(const std::string& key);

  // The same value with why the container answered it (MOXValueDetail.h). Evaluates as the plain
  // getter does, with the same effects on the data layer; slower, for diagnosis rather than for
  // every read.
  MOXStringDetail stringDetailForKey(const std::string& key);
  MOXBooleanDetail booleanDetailForKey(const std::string& key);
  MOXDoubleDetail doubleDetailForKey(const std::string& key);
  MOXInt64Detail int64DetailForKey(const std::string& key);

  // Asks for a fetch now. Ignored (with a log line) when the container is closed, in the
  // default-container refresh mode, or when the token bucket refuses: the first refresh is always
  // accepted, then at most one per 5 seconds and 30 in a burst, one more earned per 15 minutes.
  void refresh();
  // Stops loading, drops the runtime and removes the container from its manager.
  void close();
  // True until a saved or fetched resource has been applied.
  bool isDefault();
  // When the resource in use was fetched, in milliseconds since 1970; 0 while only the default
  // container has been used.
  double lastRefreshTime();
  // The version of the resource in use.
  std::string resourceVersion();

  // Where the resource in use came from, the last and the next fetch (MOXContainerStatus.h).
  MOXContainerStatus status();
  // Hears every change of `status`, on the main loop. Answers the token that removes it again (0
  // for an empty observer). The manager's status observers hear every container too.
  MOXObserverToken addStatusObserver(MOXContainerStatusObserver observer);
  // Once this returns on the main loop, the observer is not called again.
  void removeStatusObserver(MOXObserverToken token);

  // Handlers for "_func" tags and macros, by name. A later handler under a name replaces the
  // earlier one; null removes it. Used from their registration on, also by the runtime in use.
  void registerFunctionCallTagHandler(std::shared_ptr<MOXFunctionCallTagHandler> handler,
                                      const std::string& tagName);
  void registerFunctionCallMacroHandler(std::shared_ptr<MOXFunctionCallMacroHandler> handler,
                                        const std::string& macroName);
  std::shared_ptr<MOXFunctionCallTagHandler> functionCallTagHandlerForTag(
      const std::string& tagName);
  std::shared_ptr<MOXFunctionCallMacroHandler> functionCallMacroHandlerForMacro(
      const std::string& macroName);

  // ---- Used by the manager, the opener and preview mode -----------------------------------

  // Runs the tags selected for the event; what a tag raises reaches the caller. Nothing on a
  // closed container.
  void evaluateTags(const std::string& eventName);

  // Starts loading: the saved copy in the background, then fetches on the schedule. Once only:
  // a second call raises ContainerAlreadyLoadedException. In the default-container refresh mode
  // nothing is loaded and `callback` is never called. On a closed container it does nothing.
  void loadWithCallback(std::shared_ptr<MOXContainerCallback> callback);
  void loadWithCallback(std::shared_ptr<MOXContainerCallback> callback,
                        std::shared_ptr<MOXResourceLoaderScheduler> scheduler);
  // Replaces the pending fetch by one after the delay (milliseconds).
  void loadAfterDelay(double delayMillis);

  // Overrides for the fetches (the server's scheme, host and port; the path and query), passed on
  // to the scheduler; nothing restores the defaults.
  void setVeskServerAddress(std::optional<std::string> address);
  std::optional<std::string> veskServerAddress();
  void setVeskUrlPathAndQuery(std::optional<std::string> pathAndQuery);
  std::optional<std::string> veskUrlPathAndQuery();

  bool isDefaultContainerRefreshMode() const;
  // The clock's time, in milliseconds since 1970.
  double currentTimeInMilliseconds() const;

  // The runtime in use; null once closed.
  std::shared_ptr<MOXRuntime> runtime() const;

 private:
  friend class MOXDiskLoadCallback;
  friend class MOXNetworkLoadCallback;

  MOXContainer(std::string containerId, const std::shared_ptr<MOXManager>& moxManager,
               std::shared_ptr<MOXResourceStorage> resourceStorage);

  // The default container of the bundle (binary, then property list, then JSON) or, without one,
  // an empty resource.
  static MOXExpandedResourcePtr initialResource(MOXResourceStorage* storage,
                                                const std::string& containerId);
  // Expands and applies the resource; false, with the error "Not loading resource: ...", when it
  // is invalid, leaving the runtime as it was.
  bool setupEvaluatorsWithResource(const MOXPResource& resource);
  void setupEvaluatorsWithExpandedResource(MOXExpandedResourcePtr resource);
  void applyExpandedResource(MOXExpandedResourcePtr resource) LOOMSET_REQUIRES(mu_);
  void setSupplementals(const google::protobuf::RepeatedPtrField<MOXPSupplemental>& supplementals);
  // Writes the saved copy in the background.
  void saveResourceToDisk(const MOXPLegacyRawProtoSupplementedResource& supplementedResource)
      LOOMSET_REQUIRES(mu_);
  MOXContainerStatus statusLocked() const LOOMSET_REQUIRES(mu_);
  // Hands the current status to the container's and the manager's observers (on the main loop).
  void postStatus() LOOMSET_REQUIRES(mu_);

  // Constant after construction.
  const std::string containerId_;
  const std::weak_ptr<MOXManager> moxManager_;
  const std::shared_ptr<MOXDataLayer> dataLayer_;
  const std::shared_ptr<const Platform> platform_;
  const std::shared_ptr<MOXFunctionCallHandlers> handlers_;
  const std::shared_ptr<MOXContainerStatusObservers> statusObservers_;

  // Read by the getters without the lock; written under mu_.
  std::shared_ptr<MOXRuntime> runtime_;

  mutable RecursiveMutex mu_;
  std::shared_ptr<MOXResourceStorage> resourceStorage_ LOOMSET_GUARDED_BY(mu_);
  MOXPLegacyRawProtoSupplementedResource lastLoadedSupplementedResource_ LOOMSET_GUARDED_BY(mu_);
  std::shared_ptr<MOXDiskLoadCallback> diskLoadCallback_ LOOMSET_GUARDED_BY(mu_);
  std::shared_ptr<MOXNetworkLoadCallback> networkLoadCallback_ LOOMSET_GUARDED_BY(mu_);
  std::shared_ptr<MOXResourceLoaderScheduler> networkLoadScheduler_ LOOMSET_GUARDED_BY(mu_);
  std::string resourceVersion_ LOOMSET_GUARDED_BY(mu_);
  double lastRefreshTime_ LOOMSET_GUARDED_BY(mu_) = 0;
  double lastRefreshMethodCalledTime_ LOOMSET_GUARDED_BY(mu_) = 0;
  std::uint64_t numTokens_ LOOMSET_GUARDED_BY(mu_) = 30;
  std::optional<std::string> veskServerAddress_ LOOMSET_GUARDED_BY(mu_);
  std::optional<std::string> veskUrlPathAndQuery_ LOOMSET_GUARDED_BY(mu_);
  bool closed_ LOOMSET_GUARDED_BY(mu_) = false;
  MOXContainerSource source_ LOOMSET_GUARDED_BY(mu_) = kMOXContainerSourceDefault;
  MOXContainerFetchOutcome lastFetchOutcome_ LOOMSET_GUARDED_BY(mu_) = kMOXContainerFetchNone;
  MOXContainerCallbackRefreshFailure lastFetchFailure_ LOOMSET_GUARDED_BY(mu_) =
      kMOXContainerCallbackRefreshFailureUnknownError;
  double lastFetchTime_ LOOMSET_GUARDED_BY(mu_) = 0;
  double nextFetchTime_ LOOMSET_GUARDED_BY(mu_) = 0;
  bool fetching_ LOOMSET_GUARDED_BY(mu_) = false;
};

}  // namespace loomset
