// The lock types (include/loomset/detail/Mutex.h) with the short annotation names, for the
// library's own sources.
#pragma once

#include "Library/Util/platform/ThreadAnnotations.h"
#include "loomset/detail/Mutex.h"
