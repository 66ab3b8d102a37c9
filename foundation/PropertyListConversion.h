// Conversion between libplist trees and the object model: dictionaries, arrays, strings,
// numbers (integer, floating and boolean kinds), MOXBoolean, dates and bytes.
//
// Threads: pure functions; any thread.
#pragma once

#include <optional>
#include <string>

#include "loomset/Object.h"

namespace loomset {

// The binary property list for the object, or nothing with the reason in `error` when the object
// holds something a property list cannot (the null object, markers, non-text keys, ...).
std::optional<std::string> binaryPropertyListFromObject(const ObjectPtr& object,
                                                        std::string* error);

// The object for property-list bytes in binary or XML form; null with the reason in `error` when
// the bytes are not a property list or nest deeper than `maxDepth`.
ObjectPtr objectFromPropertyListData(const std::string& data, std::string* error,
                                     int maxDepth = 256);

}  // namespace loomset
