// The tests' clock: the platform layer's ManualClock, which stands still until a test moves it.
#pragma once

#include "Library/Util/platform/ManualClock.h"

namespace loomset::testing {

using FakeClock = ::loomset::ManualClock;

}  // namespace loomset::testing
