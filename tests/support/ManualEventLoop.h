// The tests' event loop: the platform layer's ManualEventLoop, which runs nothing until a test
// drives it, with timers on a FakeClock.
#pragma once

#include "Library/Util/platform/ManualEventLoop.h"
#include "support/FakeClock.h"

namespace loomset::testing {

using ManualEventLoop = ::loomset::ManualEventLoop;

}  // namespace loomset::testing
