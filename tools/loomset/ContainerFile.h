// Reading container files the way a container reads them: a serving resource (MOXPResource), a
// server response (MOXPLegacyRawProtoSupplementedResource) or a saved file
// (MOXPResourceWithMetadata) in protocol-buffers wire form, or a JSON or property-list default
// container. Failures come back as ContainerFileError with a reason a person can act on; for a
// resource that does not expand, the expansion's own message.
//
// Threads: the tools' single thread (expansion failures are read from the log while expanding).
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <google/protobuf/message.h>

#include "loomset/MOXExpandedResource.h"
#include "loomset/proto/resource_with_metadata.pb.h"
#include "loomset/proto/serving.pb.h"

namespace loomset::tools {

class ContainerFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class MessageKind { Resource, Supplemented, Saved };

// "resource", "supplemented", "saved".
std::optional<MessageKind> messageKindNamed(std::string_view name);
const char* messageTypeName(MessageKind kind);  // "MOXPResource", ...

// The whole file; throws ContainerFileError when it cannot be read.
std::string readWholeFile(const std::string& path);

struct ContainerMessage {
  MessageKind kind = MessageKind::Resource;
  std::unique_ptr<google::protobuf::Message> message;
  // Required fields the message lacks (comma-separated); empty when it is complete. A container
  // refuses an incomplete message.
  std::string missingFields;
  // The resource a container would expand from it, or null when it holds none.
  const MOXPResource* resource = nullptr;
  // The supplementals a container would apply with it.
  std::vector<MOXPSupplemental> supplementals;
};

// Throws ContainerFileError when the bytes are not such a message at all; an incomplete message
// is returned with `missingFields` set, so that it can still be shown.
ContainerMessage parseContainerMessage(const std::string& bytes, MessageKind kind);

// Expands; throws ContainerFileError carrying the reason the expansion logged.
MOXExpandedResourcePtr expandExplained(const MOXPResource& resource);

struct LoadedContainer {
  MOXExpandedResourcePtr resource;
  std::vector<MOXPSupplemental> supplementals;
};

// A path ending in ".json" is a JSON default container and one ending in ".plist" a
// property-list one, unless `kind` is given; anything else is a message of `kind` (a serving
// resource by default). Throws ContainerFileError when the file is unreadable or invalid.
LoadedContainer loadContainerFile(const std::string& path, std::optional<MessageKind> kind);

}  // namespace loomset::tools
