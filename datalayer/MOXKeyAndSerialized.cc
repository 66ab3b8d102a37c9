#include "datalayer/MOXKeyAndSerialized.h"

#include "loomset/Scalars.h"

namespace loomset {

std::string MOXKeyAndSerialized::description() const {
  return "KeyAndSerialized: key = " + key +
         " serialized hash = " + std::to_string(String::hashText(serialized));
}

}  // namespace loomset
