// Merging updates into the data layer's model.
//
// Maps merge key by key, lists position by position (never shorter, kMOXDataLayerObjectNotPresent
// keeps an item), anything else replaces. Merging never changes a map or list in place: it
// returns changed copies, so whatever `get` handed out earlier stays as it was. Callers hold the
// model's lock.
#pragma once

#include "loomset/Collections.h"
#include "loomset/Object.h"

namespace loomset::datalayer {

// What to store where `existing` (possibly null) was once `source` is merged over it, or null
// when `source` nests deeper than the data layer allows. `depth` is the nesting level of
// `source` itself.
ObjectPtr mergedInto(const ObjectPtr& existing, const ObjectPtr& source, int depth);

// Merges one top-level entry of an update into the model, its key read as a key path (as if the
// entry had been expanded into nested maps first). Logs and changes nothing when the entry nests
// too deep; returns whether it was merged.
bool mergeTopLevelEntry(Dictionary& model, const ObjectPtr& key, const ObjectPtr& value);

}  // namespace loomset::datalayer
