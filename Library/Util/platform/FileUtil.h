// The library's file operations. None of them throws: each answers success or failure (details of
// a failure are logged at debug level; callers log what the failure means to them). Safe from any
// thread; two writers of the same path each leave a whole file, the last rename winning.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "loomset/Export.h"

namespace loomset {

class LOOMSET_EXPORT FileUtil {
 public:
  // Creates the directory and any missing parents; true when it exists afterwards.
  static bool createDirectories(const std::string& path);
  // The whole content of a regular file; nothing when it is missing or unreadable.
  static std::optional<std::string> readFile(const std::string& path);
  // Replaces the file with `data` so that a reader (or a crash) sees either the old content or
  // the new, never a part: a temporary file in the same directory is written, flushed to disk and
  // renamed over the target. The directory must exist. New files are readable by the user only:
  // everything the library stores is the application's private data.
  static bool writeFileAtomically(const std::string& path, std::string_view data);
  // Removes a file or an empty directory; true when the path no longer exists afterwards.
  static bool remove(const std::string& path);
  // Removes a directory and all it holds; true when the path no longer exists afterwards.
  static bool removeAll(const std::string& path);
  static bool exists(const std::string& path);
};

}  // namespace loomset
