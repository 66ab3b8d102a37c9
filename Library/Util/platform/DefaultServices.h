// The process-wide services of the system-default platform bundle: the "loomset-main" loop and
// the background pool. Both are created on first use, once, and live as long as the process, so
// that a bundle can be built (and replaced in tests) without starting any thread.
#pragma once

#include <memory>

#include "loomset/platform/EventLoop.h"

namespace loomset {

std::shared_ptr<EventLoop> defaultMainLoop();
std::shared_ptr<Executor> defaultBackgroundExecutor();

}  // namespace loomset
