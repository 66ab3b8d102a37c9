// Flattening a saved update into the entries the persistent store keeps: one MOXKeyValue per
// value that is not a map, keyed by its dotted path.
#pragma once

#include <vector>

#include "loomset/Collections.h"
#include "loomset/MOXDataLayer.h"

namespace loomset::datalayer {

// Entries in the maps' enumeration order. The "wen.lifetime" entry itself is left out (restoring
// must not save again), and so, after an error line, is anything nested too deep.
std::vector<MOXKeyValue> flatten(const Dictionary& update);

}  // namespace loomset::datalayer
