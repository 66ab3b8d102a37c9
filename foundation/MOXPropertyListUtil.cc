#include "foundation/MOXPropertyListUtil.h"

#include <cstdint>
#include <map>
#include <optional>

#include "Library/Util/platform/Mutex.h"
#include "foundation/MOXAsyncUtil.h"
#include "foundation/PropertyListConversion.h"
#include "loomset/MOXLog.h"
#include "loomset/platform/Platform.h"

namespace loomset {

namespace {

// Format codes as the files' readers report them.
constexpr unsigned long kFormatUnknown = 0;

// Orders the writes of each name: every write takes a ticket when it is asked for, and a write
// whose ticket is older than the last one applied is dropped. Background writes may otherwise
// finish out of order on a pool of several threads.
class WriteSequencer {
 public:
  static WriteSequencer& instance() {
    static WriteSequencer* const sequencer = new WriteSequencer();
    return *sequencer;
  }

  std::uint64_t ticket(const std::string& path) {
    MutexLock lock(mu_);
    return ++issued_[path];
  }

  template <typename Write>
  bool apply(const std::string& path, std::uint64_t ticket, Write write) {
    MutexLock lock(mu_);
    std::uint64_t& applied = applied_[path];
    if (ticket < applied) return true;  // a later write already landed
    applied = ticket;
    return write();
  }

 private:
  Mutex mu_;
  std::map<std::string, std::uint64_t> issued_ GUARDED_BY(mu_);
  std::map<std::string, std::uint64_t> applied_ GUARDED_BY(mu_);
};

// Empty when no data root is configured: nothing is then read or written, rather than falling
// back to a "/Documents" at the top of the file system.
std::string documentsDirectory() {
  const auto platform = Platform::current();
  const DataDirectories& directories = platform->directories;
  return directories.root().empty() ? std::string() : directories.documentsDirectory();
}

std::optional<std::string> serialise(const std::string& name, const ObjectPtr& data) {
  std::string error;
  auto bytes = binaryPropertyListFromObject(data, &error);
  if (!bytes) MOXLog::warning("Failed to Write property list " + name + " with error " + error);
  return bytes;
}

// The file system of the bundle in force.
std::shared_ptr<FileSystem> files() {
  return Platform::current()->fileSystem;
}

bool writeBytes(FileSystem& files, const std::string& name, const std::string& path,
                const std::string& bytes) {
  if (path.empty()) {
    MOXLog::warning("Failed to Write property list " + name +
                    " with error no data directory is configured");
    return false;
  }
  const std::string directory = path.substr(0, path.find_last_of('/'));
  if (!files.createDirectories(directory) || !files.writeFileAtomically(path, bytes)) {
    MOXLog::warning("Failed to Write property list " + name + " with error could not write " +
                    path);
    return false;
  }
  return true;
}

}  // namespace

std::string MOXPropertyListUtil::plistFilePath(const std::string& name) {
  const std::string directory = documentsDirectory();
  return directory.empty() ? std::string() : directory + "/" + name;
}

ObjectPtr MOXPropertyListUtil::readPropertyList(const std::string& name) {
  const std::string path = plistFilePath(name);
  const auto fileSystem = files();
  if (!fileSystem->exists(path)) {
    MOXLog::debug("No plist file: " + path + " found.");
    return nullptr;
  }
  auto data = fileSystem->readFile(path);
  std::string error = "could not read " + path;
  ObjectPtr result = data ? objectFromPropertyListData(*data, &error) : nullptr;
  if (!result) {
    MOXLog::info("Error reading plist: " + error + ", format: " + std::to_string(kFormatUnknown) +
                 "r");
  }
  return result;
}

bool MOXPropertyListUtil::writePropertyList(const std::string& name, const ObjectPtr& data) {
  const std::string path = plistFilePath(name);
  auto& sequencer = WriteSequencer::instance();
  const std::uint64_t ticket = sequencer.ticket(path);
  const auto bytes = serialise(name, data);
  if (!bytes) return false;
  return sequencer.apply(path, ticket, [&] { return writeBytes(*files(), name, path, *bytes); });
}

void MOXPropertyListUtil::writePropertyListAsync(const std::string& name, const ObjectPtr& data) {
  // Serialised here, on the caller's thread: the containers are mutable and unguarded, and the
  // caller may change them as soon as this returns.
  const std::string path = plistFilePath(name);
  const std::uint64_t ticket = WriteSequencer::instance().ticket(path);
  auto bytes = serialise(name, data);
  if (!bytes) return;
  MOXAsyncUtil::invokeAsync(
      [fileSystem = files(), name, path, bytes = std::move(*bytes), ticket]() -> ObjectPtr {
        WriteSequencer::instance().apply(
            path, ticket, [&] { return writeBytes(*fileSystem, name, path, bytes); });
        return nullptr;
      },
      nullptr);
}

bool MOXPropertyListUtil::removePropertyList(const std::string& name) {
  const std::string path = plistFilePath(name);
  auto& sequencer = WriteSequencer::instance();
  const std::uint64_t ticket = sequencer.ticket(path);
  const auto fileSystem = files();
  return sequencer.apply(path, ticket, [&] {
    if (!fileSystem->exists(path)) return true;
    if (!fileSystem->remove(path)) {
      MOXLog::error("Error clearing out plist: " + path + " with error: could not remove the file");
      return false;
    }
    return true;
  });
}

}  // namespace loomset
