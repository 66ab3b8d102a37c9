#include "container/loading/MOXResourceStorageImpl.h"

#include <exception>
#include <utility>

#include "container/preview/MOXPreviewManager.h"
#include "foundation/MOXAsyncUtil.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXSerialization.h"
#include "loomset/Objects.h"

namespace loomset {
namespace {

constexpr char kResourceFilePrefix[] = "resource_";

}  // namespace

std::shared_ptr<MOXResourceStorageImpl> MOXResourceStorageImpl::create(std::string containerId) {
  return std::shared_ptr<MOXResourceStorageImpl>(
      new MOXResourceStorageImpl(std::move(containerId), *Platform::current()));
}

MOXResourceStorageImpl::MOXResourceStorageImpl(std::string containerId, const Platform& platform)
    : containerId_(std::move(containerId)),
      libraryDirectory_(platform.directories.root().empty()
                            ? std::string()
                            : platform.directories.libraryDirectory()),
      resourceDirectory_(platform.application.resourceDirectory),
      files_(platform.fileSystem) {}

void MOXResourceStorageImpl::setLoadCallback(
    std::shared_ptr<MOXDiskLoadCallbackInterface> callback) {
  MutexLock lock(mu_);
  loadCallback_ = std::move(callback);
}

std::shared_ptr<MOXDiskLoadCallbackInterface> MOXResourceStorageImpl::loadCallback() const {
  MutexLock lock(mu_);
  return loadCallback_;
}

// ---- Saved resource -------------------------------------------------------------------------

std::string MOXResourceStorageImpl::dataPath() const {
  if (libraryDirectory_.empty()) {
    MOXLog::error("Create directory error: no data directory is configured");
    throw UnableToCreateDataDirectory("no data directory is configured");
  }
  const std::string path = libraryDirectory_ + "/Application Support/Orvex/Loomset";
  if (!files_->createDirectories(path)) {
    const std::string description = "cannot create the directory " + path;
    MOXLog::error("Create directory error: " + description);
    throw UnableToCreateDataDirectory(description);
  }
  return path;
}

std::optional<std::string> MOXResourceStorageImpl::resourceFilename() const {
  if (libraryDirectory_.empty()) return std::nullopt;
  return dataPath() + "/" + kResourceFilePrefix + containerId_;
}

void MOXResourceStorageImpl::loadResourceFromDiskInBackground() {
  auto self = shared_from_this();
  MOXAsyncUtil::invokeAsyncTyped<MOXSavedResourceOrFailure>(
      [self] { return self->loadResourceFromDisk(); },
      [self](MOXSavedResourceOrFailure result) {
        const auto callback = self->loadCallback();
        if (!callback) return;
        if (result.resource) {
          callback->onSuccess(*result.resource);
        } else {
          callback->onFailure(result.failure);
        }
      });
}

MOXSavedResourceOrFailure MOXResourceStorageImpl::loadResourceFromDisk() {
  if (const auto callback = loadCallback()) callback->startLoad();
  MOXSavedResourceOrFailure result;
  if (MOXPreviewManager::instance()->isPreviewingContainer(containerId_)) {
    result.failure = kMOXLoadFailureNotAvailable;
    return result;
  }

  std::optional<std::string> path;
  try {
    path = resourceFilename();
  } catch (const UnableToCreateDataDirectory&) {
    // Logged already. Reported, rather than left unanswered, so that the container still goes
    // on to fetch from the network.
    result.failure = kMOXLoadFailureIOError;
    return result;
  }
  const std::optional<std::string> bytes = path ? files_->readFile(*path) : std::nullopt;
  if (!bytes) {
    MOXLog::debug("Resource not on disk");
    result.failure = kMOXLoadFailureNotAvailable;
    return result;
  }

  auto resource = std::make_shared<MOXPResourceWithMetadata>();
  if (!resource->ParsePartialFromString(*bytes)) {
    MOXLog::warning("Error reading resource from disk: " + *path +
                    " is not a saved resource in wire form");
    result.failure = kMOXLoadFailureIOError;
    return result;
  }
  if (!resource->IsInitialized()) {
    MOXLog::warning("Resource from disk not initialized.");
    result.failure = kMOXLoadFailureIOError;
    return result;
  }
  result.resource = std::move(resource);
  return result;
}

void MOXResourceStorageImpl::saveResourceToDiskInBackground(
    const MOXPResourceWithMetadata& resource) {
  saveResourceToDiskInBackground(resource, nullptr);
}

void MOXResourceStorageImpl::saveResourceToDiskInBackground(
    const MOXPResourceWithMetadata& resource, std::function<void(bool)> resultBlock) {
  // The ticket and the bytes are taken now, on the caller's thread: the caller may change the
  // message as soon as this returns, and a save asked for later must win over this one even if
  // this one runs last.
  std::uint64_t ticket;
  {
    MutexLock lock(mu_);
    ticket = ++saveTickets_;
  }
  std::string bytes;
  const bool complete = resource.IsInitialized() && resource.SerializeToString(&bytes);
  auto self = shared_from_this();
  MOXAsyncUtil::invokeAsyncTyped<bool>(
      [self, complete, bytes = std::move(bytes), ticket] {
        if (!complete) {
          MOXLog::warning("Error writing resource to disk. Keeping the saved copy.");
          return false;
        }
        return self->writeSerialized(bytes, ticket);
      },
      std::move(resultBlock));
}

bool MOXResourceStorageImpl::saveResourceToDisk(const MOXPResourceWithMetadata& resource) {
  std::uint64_t ticket;
  {
    MutexLock lock(mu_);
    ticket = ++saveTickets_;
  }
  std::string bytes;
  if (!resource.IsInitialized() || !resource.SerializeToString(&bytes)) {
    MOXLog::warning("Error writing resource to disk. Keeping the saved copy.");
    return false;
  }
  return writeSerialized(bytes, ticket);
}

bool MOXResourceStorageImpl::writeSerialized(const std::string& bytes, std::uint64_t ticket) {
  MutexLock lock(writeMu_);
  if (ticket < writtenTicket_) return true;  // a later save has landed already
  std::optional<std::string> path;
  try {
    path = resourceFilename();
  } catch (const UnableToCreateDataDirectory&) {
    // Logged already.
  }
  // Written whole, flushed and renamed over the old copy: a crash or a full disk leaves either
  // the old copy or the new one, never a part, and a failed write leaves the old copy alone.
  if (!path || !files_->writeFileAtomically(*path, bytes)) {
    MOXLog::warning("Error writing resource to disk. Keeping the saved copy.");
    return false;
  }
  writtenTicket_ = ticket;
  return true;
}

// ---- Bundle defaults ------------------------------------------------------------------------

std::optional<std::string> MOXResourceStorageImpl::bundleFile(const std::string& fileName) const {
  if (resourceDirectory_.empty() || fileName.empty()) return std::nullopt;
  std::string path = resourceDirectory_ + "/" + fileName;
  if (!files_->exists(path)) return std::nullopt;
  return path;
}

std::shared_ptr<MOXPResource> MOXResourceStorageImpl::loadResourceFromContainerFile(
    const std::string& name) {
  const auto path = bundleFile(name);
  if (!path) {
    MOXLog::warning("Cannot find binary resource file '" + name + "'.");
    return nullptr;
  }
  MOXLog::verbose("Loading default container from " + name);
  const auto bytes = files_->readFile(*path);
  auto resource = std::make_shared<MOXPResource>();
  if (!bytes || !resource->ParsePartialFromString(*bytes)) {
    MOXLog::warning("Error reading resource from binary container file: " + *path +
                    (bytes ? " is not a serving resource in wire form" : " cannot be read"));
    return nullptr;
  }
  if (!resource->IsInitialized()) {
    MOXLog::warning("Resource from container not initialized.");
    return nullptr;
  }
  return resource;
}

MOXExpandedResourcePtr MOXResourceStorageImpl::loadExpandedResourceFromPlistFile(
    const std::string& name) {
  const auto path = bundleFile(name + ".plist");
  if (!path) {
    MOXLog::warning("Cannot find resource file '" + name + ".plist'.");
    return nullptr;
  }
  MOXLog::verbose("loading default container from " + name + ".plist");
  const std::string failure = "Error reading resource from plist file: ";
  const auto bytes = files_->readFile(*path);
  if (!bytes) {
    MOXLog::warning(failure + *path + " cannot be read");
    return nullptr;
  }
  try {
    const ObjectPtr object = MOXSerialization::objectFromPropertyList(*bytes);
    if (!object) {
      MOXLog::warning(failure + *path + " is not a property list");
      return nullptr;
    }
    if (!asDictionary(object)) {
      MOXLog::warning(failure + "the root of " + *path + " is " + object->className() +
                      ", not a dictionary");
      return nullptr;
    }
    return MOXSerialization::expandedResourceFromDeserializedObject(object);
  } catch (const std::exception& e) {
    MOXLog::warning(failure + e.what());
    return nullptr;
  }
}

MOXExpandedResourcePtr MOXResourceStorageImpl::loadExpandedResourceFromJsonFile(
    const std::string& name) {
  const auto path = bundleFile(name + ".json");
  if (!path) {
    MOXLog::warning("Cannot find resource file '" + name + ".json'.");
    return nullptr;
  }
  MOXLog::verbose("loading default container from " + name + ".json");
  const std::string failure = "Error reading resource from json file: ";
  const auto bytes = files_->readFile(*path);
  if (!bytes) {
    MOXLog::warning(failure + *path + " cannot be read");
    return nullptr;
  }
  try {
    const ObjectPtr object = MOXSerialization::objectFromJson(*bytes);
    if (!object) {
      MOXLog::warning(failure + *path + " is not JSON");
      return nullptr;
    }
    if (MOXLog::enabled(kMOXLogLevelVerbose)) MOXLog::verbose(object->description());
    return MOXSerialization::expandedResourceFromDeserializedObject(object);
  } catch (const std::exception& e) {
    MOXLog::warning(failure + e.what());
    return nullptr;
  }
}

}  // namespace loomset
