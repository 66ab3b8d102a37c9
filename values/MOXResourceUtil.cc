#include "loomset/MOXResourceUtil.h"

#include <google/protobuf/arena.h>

#include "values/MOXResourceUtilExpander.h"
#include "values/MOXResourceUtilSteps.h"

namespace loomset {

MOXExpandedResourcePtr MOXResourceUtil::expandResource(const MOXPResource& resource) {
  // One linear copy onto the arena lets every leaf Value be shared by pointer afterwards.
  auto arena = std::make_shared<google::protobuf::Arena>();
  auto* copy = google::protobuf::Arena::CreateMessage<MOXPResource>(arena.get());
  copy->CopyFrom(resource);
  return MOXResourceExpander(arena, *copy).expand();
}

MOXExpandedResourcePtr MOXResourceUtil::expandResourceFromBytes(std::string_view bytes) {
  auto arena = std::make_shared<google::protobuf::Arena>();
  auto* resource = google::protobuf::Arena::CreateMessage<MOXPResource>(arena.get());
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX) ||
      !resource->ParsePartialFromArray(bytes.data(), static_cast<int>(bytes.size()))) {
    MOXResourceUtilSteps::logAndThrow("Resource bytes could not be parsed");
  }
  if (!resource->IsInitialized()) {
    MOXResourceUtilSteps::logAndThrow("Resource is missing required fields: " +
                                      resource->InitializationErrorString());
  }
  return MOXResourceExpander(arena, *resource).expand();
}

}  // namespace loomset
