// Runs one block of an event loop or executor so that a failure inside it is logged and stops
// there: one bad block must not take a worker thread, and every component on it, down.
#pragma once

#include <functional>
#include <string>

#include "loomset/Export.h"

namespace loomset {

// `where` names the loop or pool in the log line.
LOOMSET_EXPORT void runBlockGuarded(const std::string& where, const std::function<void()>& block);

}  // namespace loomset
