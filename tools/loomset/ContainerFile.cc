#include "tools/loomset/ContainerFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "loomset/Exceptions.h"
#include "loomset/MOXResourceUtil.h"
#include "loomset/MOXSerialization.h"
#include "loomset/Objects.h"
#include "tools/loomset/LogCapture.h"

namespace loomset::tools {
namespace {

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

template <typename Message>
std::unique_ptr<Message> parsePartial(const std::string& bytes, MessageKind kind) {
  auto message = std::make_unique<Message>();
  if (!message->ParsePartialFromString(bytes)) {
    throw ContainerFileError(std::string("not a ") + messageTypeName(kind) +
                             " in protocol-buffers wire form (the bytes do not parse)");
  }
  return message;
}

template <typename List>
std::vector<MOXPSupplemental> copyOf(const List& list) {
  return std::vector<MOXPSupplemental>(list.begin(), list.end());
}

LoadedContainer fromDefaultObject(const ObjectPtr& object) {
  try {
    return {MOXSerialization::expandedResourceFromDeserializedObject(object), {}};
  } catch (const NotSupportedException& e) {
    throw ContainerFileError("not a default container: " + e.reason());
  }
}

LoadedContainer loadJsonDefault(const std::string& bytes) {
  ObjectPtr object;
  {
    ScopedLogCapture capture;
    object = MOXSerialization::objectFromJson(bytes);
    if (!object) throw ContainerFileError(capture.lastError("not valid JSON"));
  }
  return fromDefaultObject(object);
}

LoadedContainer loadPlistDefault(const std::string& bytes) {
  ObjectPtr object;
  {
    ScopedLogCapture capture;
    object = MOXSerialization::objectFromPropertyList(bytes);
    if (!object) throw ContainerFileError(capture.lastError("not a property list"));
  }
  // A container reads the file as a dictionary; any other root is unreadable to it.
  if (!asDictionary(object)) {
    throw ContainerFileError("the property list's root is " + object->className() +
                             ", not a dictionary");
  }
  return fromDefaultObject(object);
}

}  // namespace

std::optional<MessageKind> messageKindNamed(std::string_view name) {
  if (name == "resource") return MessageKind::Resource;
  if (name == "supplemented") return MessageKind::Supplemented;
  if (name == "saved") return MessageKind::Saved;
  return std::nullopt;
}

const char* messageTypeName(MessageKind kind) {
  switch (kind) {
    case MessageKind::Resource:
      return "MOXPResource";
    case MessageKind::Supplemented:
      return "MOXPLegacyRawProtoSupplementedResource";
    case MessageKind::Saved:
      return "MOXPResourceWithMetadata";
  }
  return "message";
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ContainerFileError("cannot open " + path + ": " + std::strerror(errno));
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) throw ContainerFileError("cannot read " + path);
  return bytes.str();
}

ContainerMessage parseContainerMessage(const std::string& bytes, MessageKind kind) {
  ContainerMessage out;
  out.kind = kind;
  switch (kind) {
    case MessageKind::Resource: {
      auto message = parsePartial<MOXPResource>(bytes, kind);
      out.resource = message.get();
      out.message = std::move(message);
      break;
    }
    case MessageKind::Supplemented: {
      auto message = parsePartial<MOXPLegacyRawProtoSupplementedResource>(bytes, kind);
      // A response without a resource leaves a container with nothing new to apply.
      if (message->has_resource()) out.resource = &message->resource();
      out.supplementals = copyOf(message->supplemental());
      out.message = std::move(message);
      break;
    }
    case MessageKind::Saved: {
      auto message = parsePartial<MOXPResourceWithMetadata>(bytes, kind);
      // As the container restores a saved file: the resource travels inside the supplemented
      // resource when there is one, and otherwise stands in the message itself.
      if (message->has_supplemented_resource()) {
        out.resource = &message->supplemented_resource().resource();
        out.supplementals = copyOf(message->supplemented_resource().supplemental());
      } else {
        out.resource = &message->resource();
      }
      out.message = std::move(message);
      break;
    }
  }
  if (!out.message->IsInitialized()) out.missingFields = out.message->InitializationErrorString();
  return out;
}

MOXExpandedResourcePtr expandExplained(const MOXPResource& resource) {
  ScopedLogCapture capture;
  try {
    return MOXResourceUtil::expandResource(resource);
  } catch (const InvalidResourceException& e) {
    throw ContainerFileError("invalid resource: " + capture.lastError(e.reason()));
  }
}

LoadedContainer loadContainerFile(const std::string& path, std::optional<MessageKind> kind) {
  const std::string bytes = readWholeFile(path);
  if (!kind && endsWith(path, ".json")) return loadJsonDefault(bytes);
  if (!kind && endsWith(path, ".plist")) return loadPlistDefault(bytes);

  const ContainerMessage message =
      parseContainerMessage(bytes, kind.value_or(MessageKind::Resource));
  if (!message.missingFields.empty()) {
    throw ContainerFileError(std::string("incomplete ") + messageTypeName(message.kind) +
                             ": missing required " + message.missingFields);
  }
  if (!message.resource) {
    throw ContainerFileError(std::string("the ") + messageTypeName(message.kind) +
                             " holds no resource");
  }
  return {expandExplained(*message.resource), message.supplementals};
}

}  // namespace loomset::tools
