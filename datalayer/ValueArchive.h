// The persistent store's archive of one data-layer value: a protocol-buffer message of our own
// that restores strings, numbers (with their integer or floating storage kind), MOXBoolean, lists,
// maps (keys and order included), the null object and kMOXDataLayerObjectNotPresent exactly.
//
// Threads: pure functions; the caller guards the (mutable) lists and maps it hands in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "loomset/Object.h"

namespace loomset::datalayer {

// The archived bytes, or nothing when the value holds an object outside the value model (bytes,
// dates, serving Values, application objects, markers other than kMOXDataLayerObjectNotPresent)
// or nests deeper than the data layer keeps; `reason` then says what was refused.
std::optional<std::string> archiveValue(const ObjectPtr& value, std::string* reason = nullptr);

// The value the bytes were archived from; null when they do not decode (a damaged row).
// The null object and kMOXDataLayerObjectNotPresent come back as the shared instances.
ObjectPtr unarchiveValue(std::string_view bytes);

}  // namespace loomset::datalayer
