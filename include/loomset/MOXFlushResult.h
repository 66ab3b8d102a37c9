// What a bounded flush of the manager achieved (`MOXManager::flush`): the analytics hits and the
// pixels sent, and what is still stored.
//
// A plain value, copied freely.
#pragma once

#include <cstddef>
#include <cstdint>

#include "loomset/Export.h"

namespace loomset {

// What a bounded flush of the manager achieved (`MOXManager::flush`).
struct LOOMSET_EXPORT MOXFlushResult {
  // Analytics hits the collector answered, and pixels sent, during the flush.
  std::size_t hitsSent = 0;
  std::size_t pixelsSent = 0;
  // Analytics hits deleted unsent (too old, too large).
  std::size_t hitsDeleted = 0;
  // Still stored when the flush returned; -1 when a store could not count them.
  std::int64_t hitsLeft = 0;
  std::int64_t pixelsLeft = 0;
  // The time ran out before everything was sent.
  bool timedOut = false;
};

}  // namespace loomset
