#include "loomset/platform/FileSystem.h"

namespace loomset {

bool FileSystem::writeFileAtomically(const std::string& path, std::string_view data) {
  if (path.empty() || path.back() == '/') return false;
  std::string temporary;
  std::unique_ptr<WritableFile> file = newTemporaryFile(path, &temporary);
  if (!file) return false;
  const bool written = file->append(data) && file->sync();
  // Closed before the rename (or the removal) either way; a close that fails may have lost data.
  const bool closed = file->close();
  file.reset();
  if (written && closed && rename(temporary, path)) return true;
  remove(temporary);
  return false;
}

}  // namespace loomset
