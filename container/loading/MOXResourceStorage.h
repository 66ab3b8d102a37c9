// Where a container's resources come from besides the network: the copy saved after the last
// successful fetch, and the default containers shipped with the application. One storage serves
// one container id. MOXResourceStorageImpl keeps them in files; tests may hand a container any
// other implementation.
//
// Threads: the bundle loads run on the calling thread. The saved-resource load and save run in
// the background; the load's `startLoad` arrives on the background thread, its result on the
// platform's main loop.
#pragma once

#include <memory>
#include <string>

#include "container/loading/MOXLoadCallback.h"
#include "loomset/MOXExpandedResource.h"
#include "loomset/proto/resource_with_metadata.pb.h"
#include "loomset/proto/serving.pb.h"

namespace loomset {

using MOXDiskLoadCallbackInterface = MOXLoadCallback<MOXPResourceWithMetadata>;

class MOXResourceStorage {
 public:
  virtual ~MOXResourceStorage() = default;
  MOXResourceStorage() = default;
  MOXResourceStorage(const MOXResourceStorage&) = delete;
  MOXResourceStorage& operator=(const MOXResourceStorage&) = delete;

  // Receives the results of `loadResourceFromDiskInBackground`; kept strongly.
  virtual void setLoadCallback(std::shared_ptr<MOXDiskLoadCallbackInterface> callback) = 0;
  // Reads the saved resource off the calling thread and reports it to the load callback.
  virtual void loadResourceFromDiskInBackground() = 0;
  // Replaces the saved resource off the calling thread; nothing is reported.
  virtual void saveResourceToDiskInBackground(const MOXPResourceWithMetadata& resource) = 0;

  // The default containers shipped with the application, by name (the container id): a serving
  // resource in wire form (no extension), a property list (".plist") or JSON (".json"). Each
  // answers null, with a warning, when its file is missing or unusable.
  virtual std::shared_ptr<MOXPResource> loadResourceFromContainerFile(const std::string& name) = 0;
  virtual MOXExpandedResourcePtr loadExpandedResourceFromPlistFile(const std::string& name) = 0;
  virtual MOXExpandedResourcePtr loadExpandedResourceFromJsonFile(const std::string& name) = 0;
};

}  // namespace loomset
