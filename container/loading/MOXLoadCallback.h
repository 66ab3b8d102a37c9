// How a resource loader reports to its owner: the saved-resource loader (MOXResourceStorage)
// reports a MOXPResourceWithMetadata, the network loader (MOXResourceLoader) a
// MOXPLegacyRawProtoSupplementedResource. The container's two load callbacks implement this.
//
// For every load that starts, `startLoad` comes first and then exactly one of `onSuccess` and
// `onFailure`; a load that cannot start reports `onFailure` alone. Each loader names the thread
// its calls arrive on.
#pragma once

#include <cstdint>

namespace loomset {

// Why a load produced no resource. Other values may be reported too; owners treat any value they
// do not know as an unknown failure.
enum MOXLoadFailure : std::int32_t {
  // Nothing to load: no saved file (or the container is being previewed), no connection, or a
  // transport error (refused, timed out, reset, ...).
  kMOXLoadFailureNotAvailable = 1,
  // The saved file is unreadable or incomplete, or the server answered a status other than 200
  // and 404.
  kMOXLoadFailureIOError = 2,
  // The server answered 404, or a body that does not parse.
  kMOXLoadFailureServerError = 3,
};

template <typename Resource>
class MOXLoadCallback {
 public:
  virtual ~MOXLoadCallback() = default;
  MOXLoadCallback() = default;
  MOXLoadCallback(const MOXLoadCallback&) = delete;
  MOXLoadCallback& operator=(const MOXLoadCallback&) = delete;

  virtual void startLoad() = 0;
  // The loaded message; the callback copies what it keeps.
  virtual void onSuccess(const Resource& resource) = 0;
  virtual void onFailure(MOXLoadFailure failure) = 0;
};

}  // namespace loomset
