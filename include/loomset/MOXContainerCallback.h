// What an application hears about a container's loads: `containerRefreshBegin` when a load of
// the saved copy or a network fetch starts, then `containerRefreshSuccess` or
// `containerRefreshFailure` when it ends.
//
// A container loads its saved copy once, when it is opened, and then fetches from the server on
// its schedule (12 hours after a success, 1 hour after a failure, at once when there is no usable
// saved copy) and on accepted `refresh` calls. In the default-container refresh mode nothing is
// loaded and the callback is never called.
//
// Threads: the saved copy's `containerRefreshBegin` arrives on the library's background executor;
// every other call arrives on the library's main loop (the platform bundle's `mainLoop`). Each
// call is made while the container's lock is held: the callback may use the container (its lock
// is re-entrant) but must not wait for another thread that needs the same container's lock.
#pragma once

#include <cstdint>
#include <memory>

#include "loomset/Export.h"

namespace loomset {

class MOXContainer;

enum MOXContainerCallbackRefreshType : std::int32_t {
  // The copy saved on disk after the last successful fetch.
  kMOXContainerCallbackRefreshTypeSaved = 0,
  // A fetch from the container server.
  kMOXContainerCallbackRefreshTypeNetwork = 1,
};

enum MOXContainerCallbackRefreshFailure : std::int32_t {
  // No saved copy on disk (or the container is being previewed).
  kMOXContainerCallbackRefreshFailureNoSavedContainer = 0,
  // The saved copy cannot be read or used.
  kMOXContainerCallbackRefreshFailureIOError = 1,
  // The request could not be sent or got no answer.
  kMOXContainerCallbackRefreshFailureNoNetwork = 2,
  // The server answered a status other than 200 and 404.
  kMOXContainerCallbackRefreshFailureNetworkError = 3,
  // The server answered 404, a body that does not parse or cannot be used, or no resource when
  // the container has none yet.
  kMOXContainerCallbackRefreshFailureServerError = 4,
  kMOXContainerCallbackRefreshFailureUnknownError = 5,
};

class LOOMSET_EXPORT MOXContainerCallback {
 public:
  virtual ~MOXContainerCallback() = default;
  virtual void containerRefreshBegin(const std::shared_ptr<MOXContainer>& container,
                                     MOXContainerCallbackRefreshType refreshType) = 0;
  virtual void containerRefreshSuccess(const std::shared_ptr<MOXContainer>& container,
                                       MOXContainerCallbackRefreshType refreshType) = 0;
  virtual void containerRefreshFailure(const std::shared_ptr<MOXContainer>& container,
                                       MOXContainerCallbackRefreshFailure failure,
                                       MOXContainerCallbackRefreshType refreshType) = 0;
};

}  // namespace loomset
