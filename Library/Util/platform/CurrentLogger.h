// The logger `MOXLog` writes to: the logger of the platform bundle in force. It is kept in a slot
// of its own, in step with the bundle (`Platform::setCurrent` updates both), so that logging never
// has to build the default bundle: building it reads files, and reading files may log.
//
// Threads: both functions are safe from any thread.
#pragma once

#include <memory>

#include "loomset/MOXLog.h"

namespace loomset {

std::shared_ptr<MOXLogger> currentLogger();
// Installs a bundle like the one in force, with this logger instead of its own.
void setLoggerOfCurrentPlatform(std::shared_ptr<MOXLogger> logger);

}  // namespace loomset
