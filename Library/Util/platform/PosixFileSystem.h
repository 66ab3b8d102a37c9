// The system default FileSystem, over POSIX calls.
#pragma once

#include <memory>

#include "loomset/platform/FileSystem.h"

namespace loomset {

class LOOMSET_EXPORT PosixFileSystem final : public FileSystem {
 public:
  bool exists(const std::string& path) override;
  std::optional<std::string> readFile(const std::string& path) override;
  std::unique_ptr<WritableFile> newTemporaryFile(const std::string& path,
                                                 std::string* temporaryPath) override;
  // Also flushes the directory, so that the rename itself survives a crash.
  bool rename(const std::string& from, const std::string& to) override;
  bool createDirectories(const std::string& path) override;
  bool remove(const std::string& path) override;
  bool removeAll(const std::string& path) override;
  bool isImmutable(const std::string& path, std::string* error) override;
  bool clearImmutable(const std::string& path, std::string* error) override;
};

}  // namespace loomset
