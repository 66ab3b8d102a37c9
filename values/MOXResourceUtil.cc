#include "loomset/MOXResourceUtil.h"

#include <google/protobuf/arena.h>

#include "loomset/Exceptions.h"
#include "loomset/MOXLog.h"
#include "values/MOXResourceUtilExpander.h"

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
    logAndThrow("Resource bytes could not be parsed");
  }
  if (!resource->IsInitialized()) {
    logAndThrow("Resource is missing required fields: " + resource->InitializationErrorString());
  }
  return MOXResourceExpander(arena, *resource).expand();
}

void MOXResourceUtil::copyBasics(const MOXPValue& from, MOXPValue* to) {
  to->set_type(from.type());
  to->mutable_escaping()->CopyFrom(from.escaping());
  if (from.contains_references()) to->set_contains_references(true);
}

std::shared_ptr<MOXPValue> MOXResourceUtil::valueBuilderBasedOnValue(const MOXPValue& value) {
  auto result = std::make_shared<MOXPValue>();
  copyBasics(value, result.get());
  return result;
}

const MOXPServingValue& MOXResourceUtil::servingValue(const MOXPValue& value) {
  if (!value.HasExtension(MOXPServingValue::ext)) {
    logAndThrow("Expected a ServingValue and didn't get one");
  }
  return value.GetExtension(MOXPServingValue::ext);
}

void MOXResourceUtil::logAndThrow(const std::string& message) {
  MOXLog::error(message);
  throw InvalidResourceException("Resource is invalid");
}

}  // namespace loomset
