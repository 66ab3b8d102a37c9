// The file system as the library reads and writes it. Everything the library keeps in files (user
// defaults, property lists, saved containers) and every directory it creates or file it removes
// goes through the `FileSystem` of the platform bundle, so that a test can hand in a file system
// that fails one chosen call (a full disk, a refused open, a failed rename). SQLite opens its
// database files itself; the stores still create their directories and remove damaged files here.
//
// No operation throws: each answers success or failure (the default implementation logs the
// reason at debug level; callers log what the failure means to them).
//
// Threads: implementations are safe from any thread. A `WritableFile` is used by one thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "loomset/Export.h"

namespace loomset {

// A file being written. The file system that made it may not be used to remove it while it is
// open; dropping it without `close` closes it, ignoring failures.
class LOOMSET_EXPORT WritableFile {
 public:
  virtual ~WritableFile() = default;
  WritableFile() = default;
  WritableFile(const WritableFile&) = delete;
  WritableFile& operator=(const WritableFile&) = delete;

  virtual bool append(std::string_view data) = 0;
  // Makes what was appended durable on the disk.
  virtual bool sync() = 0;
  // Some failures only show at close; after it the file takes no more calls.
  virtual bool close() = 0;
};

class LOOMSET_EXPORT FileSystem {
 public:
  virtual ~FileSystem() = default;
  FileSystem() = default;
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;

  virtual bool exists(const std::string& path) = 0;
  // The whole content of a regular file; nothing when it is missing or unreadable.
  virtual std::optional<std::string> readFile(const std::string& path) = 0;
  // A new, empty file with a name of its own in the directory of `path`, readable by the user
  // only (everything the library stores is the application's private data). Its path is stored
  // in `temporaryPath`. Null when it cannot be created.
  virtual std::unique_ptr<WritableFile> newTemporaryFile(const std::string& path,
                                                         std::string* temporaryPath) = 0;
  // Moves `from` to `to`, replacing what is there, in one step, durably.
  virtual bool rename(const std::string& from, const std::string& to) = 0;
  // Creates the directory and any missing parents; true when it exists afterwards.
  virtual bool createDirectories(const std::string& path) = 0;
  // Removes a file or an empty directory; true when the path no longer exists afterwards.
  virtual bool remove(const std::string& path) = 0;
  // Removes a directory and all it holds; true when the path no longer exists afterwards.
  virtual bool removeAll(const std::string& path) = 0;
  // Whether a file carries the immutable flag, which keeps even its owner from replacing or
  // deleting it; and clearing the flag. On file systems without such a flag a file is never
  // immutable and clearing succeeds. `error` receives the reason of a failure.
  virtual bool isImmutable(const std::string& path, std::string* error) = 0;
  virtual bool clearImmutable(const std::string& path, std::string* error) = 0;

  // Replaces the file with `data` so that a reader (or a crash) sees either the old content or
  // the new, never a part: a temporary file in the same directory is written, flushed to the disk
  // and renamed over the target. The directory must exist. A failure leaves the old content and
  // no temporary file behind.
  bool writeFileAtomically(const std::string& path, std::string_view data);
};

}  // namespace loomset
