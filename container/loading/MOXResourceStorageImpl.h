// MOXResourceStorage over files. For the container id ID:
//   saved resource   <Library>/Application Support/Orvex/Loomset/resource_ID, one
//                    MOXPResourceWithMetadata in wire form;
//   bundle defaults  <resource directory>/ID, ID.plist and ID.json.
// The Library and resource directories and the file system are the platform's (its data root, its
// application's resource directory, its file system) as they were when the storage was created.
//
// A save never leaves a partly written file: the new content goes to a temporary file in the same
// folder, is flushed and is renamed over the old file. A save that fails leaves the earlier copy
// as it was. Saves asked for later are never overwritten by earlier ones that ran late.
//
// While the container id is being previewed, the saved resource is not read: the load reports
// kMOXLoadFailureNotAvailable.
//
// Ownership: create it with `create`; background work keeps the storage alive until it is done.
// Threads: every operation may be called from any thread. The background load calls the load
// callback's `startLoad` on the background executor and its result on the platform's main loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "container/loading/MOXResourceStorage.h"
#include "loomset/platform/Platform.h"

namespace loomset {

// A saved resource, or why there is none.
struct MOXSavedResourceOrFailure {
  std::shared_ptr<MOXPResourceWithMetadata> resource;
  MOXLoadFailure failure = kMOXLoadFailureNotAvailable;  // when `resource` is null
};

class MOXResourceStorageImpl final : public MOXResourceStorage,
                                     public std::enable_shared_from_this<MOXResourceStorageImpl> {
 public:
  static std::shared_ptr<MOXResourceStorageImpl> create(std::string containerId);

  void setLoadCallback(std::shared_ptr<MOXDiskLoadCallbackInterface> callback) override;
  void loadResourceFromDiskInBackground() override;
  void saveResourceToDiskInBackground(const MOXPResourceWithMetadata& resource) override;
  // The same; `resultBlock` (may be empty) receives whether the file was written, on the main
  // loop.
  void saveResourceToDiskInBackground(const MOXPResourceWithMetadata& resource,
                                      std::function<void(bool)> resultBlock);

  std::shared_ptr<MOXPResource> loadResourceFromContainerFile(const std::string& name) override;
  MOXExpandedResourcePtr loadExpandedResourceFromPlistFile(const std::string& name) override;
  MOXExpandedResourcePtr loadExpandedResourceFromJsonFile(const std::string& name) override;

  // The background load's work, on the calling thread: calls `startLoad`, then reads the file.
  MOXSavedResourceOrFailure loadResourceFromDisk();
  // Writes the file on the calling thread; false (with a warning) when it was not written.
  bool saveResourceToDisk(const MOXPResourceWithMetadata& resource);

  // The saved file's path; nothing when the platform has no data root (nothing is then stored).
  // Creates the data directory; raises UnableToCreateDataDirectory (after logging
  // "Create directory error: ...") when it cannot.
  std::optional<std::string> resourceFilename() const;
  // <Library>/Application Support/Orvex/Loomset, created if missing; raises as above.
  std::string dataPath() const;
  // The application's resource directory, where bundle defaults are looked up.
  const std::string& mainBundle() const { return resourceDirectory_; }
  const std::string& containerId() const { return containerId_; }

 private:
  MOXResourceStorageImpl(std::string containerId, const Platform& platform);
  std::shared_ptr<MOXDiskLoadCallbackInterface> loadCallback() const;
  // The path of a bundle file, or nothing (with the warning the caller names) when it is absent.
  std::optional<std::string> bundleFile(const std::string& fileName) const;
  bool writeSerialized(const std::string& bytes, std::uint64_t ticket);

  const std::string containerId_;
  const std::string libraryDirectory_;  // empty: no data root
  const std::string resourceDirectory_;
  const std::shared_ptr<FileSystem> files_;

  mutable Mutex mu_;
  std::shared_ptr<MOXDiskLoadCallbackInterface> loadCallback_ GUARDED_BY(mu_);
  std::uint64_t saveTickets_ GUARDED_BY(mu_) = 0;

  // Held while a save writes, so that writes are applied one at a time in ticket order.
  Mutex writeMu_;
  std::uint64_t writtenTicket_ GUARDED_BY(writeMu_) = 0;
};

}  // namespace loomset
