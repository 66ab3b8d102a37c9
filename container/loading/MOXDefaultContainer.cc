#include "container/loading/MOXDefaultContainer.h"

namespace loomset {

MOXDefaultContainer MOXLoadDefaultContainer(MOXResourceStorage& storage,
                                            const std::string& containerId) {
  MOXDefaultContainer found;
  found.resource = storage.loadResourceFromContainerFile(containerId);
  if (found.resource) return found;
  found.expandedResource = storage.loadExpandedResourceFromPlistFile(containerId);
  if (found.expandedResource) return found;
  found.expandedResource = storage.loadExpandedResourceFromJsonFile(containerId);
  return found;
}

}  // namespace loomset
