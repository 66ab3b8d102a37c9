// What a container tells its status observers: where the resource in use came from, how the last
// fetch from the container server went and when, and when the next one is due.
//
// Observers are added to one container (`MOXContainer::addStatusObserver`) or to every container
// of a manager (`MOXManager::addContainerStatusObserver`). They are called on the library's main
// loop (the platform bundle's `mainLoop`), never under a lock of the library, after every change:
// the saved copy applied, a fetch started, succeeded or failed, a refresh accepted, the container
// closed. What an observer throws is logged and dropped.
//
// Plain values, copied freely.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "loomset/Export.h"
#include "loomset/MOXContainerCallback.h"

namespace loomset {

enum MOXContainerSource : std::int32_t {
  // The default container shipped with the application (or an empty one without it).
  kMOXContainerSourceDefault = 0,
  // The copy saved on disk after an earlier fetch.
  kMOXContainerSourceSaved = 1,
  // A fetch from the container server during this run.
  kMOXContainerSourceNetwork = 2,
};

enum MOXContainerFetchOutcome : std::int32_t {
  kMOXContainerFetchNone = 0,
  kMOXContainerFetchSucceeded = 1,
  kMOXContainerFetchFailed = 2,
};

struct LOOMSET_EXPORT MOXContainerStatus {
  std::string containerId;
  // The version of the resource in use.
  std::string resourceVersion;
  MOXContainerSource source = kMOXContainerSourceDefault;
  // The last fetch that ended; its failure when it failed.
  MOXContainerFetchOutcome lastFetchOutcome = kMOXContainerFetchNone;
  MOXContainerCallbackRefreshFailure lastFetchFailure =
      kMOXContainerCallbackRefreshFailureUnknownError;
  // When that fetch ended, in milliseconds since 1970 (the platform clock); 0 before any.
  double lastFetchTimeMillis = 0;
  // A fetch is under way.
  bool fetching = false;
  // When the next scheduled fetch is due, in milliseconds since 1970; 0 when none is scheduled
  // (closed, fetching, or the default-container refresh mode).
  double nextFetchTimeMillis = 0;
  bool closed = false;
};

using MOXContainerStatusObserver = std::function<void(const MOXContainerStatus& status)>;
// Names a registered observer; 0 is never issued.
using MOXObserverToken = std::uint64_t;

}  // namespace loomset
