// Small named property lists kept as files in the Documents directory of the current platform:
// the pixel tag's unrepeatable ids and the click referrers. Written in the binary format by an
// atomic rename; read back in binary or XML form as mutable containers.
//
// Threads: any thread. Writes of one name are applied in the order they were asked for, even
// when some run in the background: a later write, synchronous or not, is never overwritten by an
// earlier background one. Callers that read, modify and write hold their own lock.
#pragma once

#include <string>

#include "loomset/Object.h"

namespace loomset {

class MOXPropertyListUtil {
 public:
  // Empty when the platform has no data root.
  static std::string plistFilePath(const std::string& name);
  // Null when there is no file (debug line) or it is not a property list (info line).
  static ObjectPtr readPropertyList(const std::string& name);
  // False with a warning when the object cannot be stored or the file cannot be written.
  static bool writePropertyList(const std::string& name, const ObjectPtr& data);
  // The same write on the background executor; nothing is reported back.
  static void writePropertyListAsync(const std::string& name, const ObjectPtr& data);
  // True when the file is gone afterwards (a missing file is not an error and not logged).
  static bool removePropertyList(const std::string& name);
};

}  // namespace loomset
