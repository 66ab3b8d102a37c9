// The default container an application ships for a container id, looked up as a new container
// looks it up: the serving resource (file named by the id alone), then the property list
// (".plist"), then JSON (".json"). The first file that yields a resource wins; the later ones are
// not read.
//
// Threads: runs on the calling thread, like the storage's bundle loads.
#pragma once

#include <memory>
#include <string>

#include "container/loading/MOXResourceStorage.h"

namespace loomset {

struct MOXDefaultContainer {
  // From the serving-resource file; the container expands it.
  std::shared_ptr<MOXPResource> resource;
  // From the property-list or JSON file, already expanded.
  MOXExpandedResourcePtr expandedResource;

  bool found() const { return resource || expandedResource; }
};

MOXDefaultContainer MOXLoadDefaultContainer(MOXResourceStorage& storage,
                                            const std::string& containerId);

}  // namespace loomset
