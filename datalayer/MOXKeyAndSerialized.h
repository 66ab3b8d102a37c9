// One row of the data-layer store: a dotted key path and the archived bytes of its value.
#pragma once

#include <string>

namespace loomset {

struct MOXKeyAndSerialized {
  std::string key;
  std::string serialized;

  // "KeyAndSerialized: key = <key> serialized hash = <hash of the bytes>"
  std::string description() const;
};

}  // namespace loomset
