// What the analytics half tells an application about getting hits out of the process: a report
// per dispatch for delivery observers (`PLU::addDeliveryObserver`), and the result of a bounded
// flush (`PLU::flush`).
//
// Plain values, copied freely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "loomset/Export.h"
#include "loomset/PLUHitMap.h"

namespace loomset {

// One dispatch that sent, deleted or failed hits. Dispatches that found nothing to do are not
// reported.
struct LOOMSET_EXPORT PLUDispatchReport {
  // Sent when the collector answered (or hits were deleted unsent), failed when it did not.
  PLUDispatchOutcome outcome = kPLUDispatchNothingToSend;
  // Hits of a request the collector answered, with any status: they are deleted, as sending them
  // again would not change the answer.
  std::size_t hitsSent = 0;
  // Hits deleted without being sent: older than the maximum age, or too large for any request.
  std::size_t hitsDeleted = 0;
  // Hits of a request that got no answer, or that the collector refused as a batch; they stay
  // stored for a later dispatch.
  std::size_t hitsFailed = 0;
  // Hits still stored once the dispatch ended (failed ones included); -1 when the store could not
  // count them.
  std::int64_t hitsKept = 0;
  // The collector's HTTP status; 0 without an answer.
  int httpStatus = 0;
  // Why the request got no answer; empty otherwise.
  std::string error;
  // When the dispatch ended, in milliseconds since 1970 (the platform clock).
  double timeMillis = 0;
};

// Called on the library's main loop (the platform bundle's `mainLoop`), never under a lock of the
// library. What it throws is logged and dropped.
using PLUDeliveryObserver = std::function<void(const PLUDispatchReport& report)>;
// Names a registered observer; 0 is never issued.
using PLUObserverToken = std::uint64_t;

// What a bounded flush achieved.
struct LOOMSET_EXPORT PLUFlushResult {
  // Hits the collector answered during the flush.
  std::size_t hitsSent = 0;
  // Hits deleted unsent during the flush (too old, too large).
  std::size_t hitsDeleted = 0;
  // Hits still stored when the flush returned (a request still in flight counts its hits here);
  // -1 when the store could not count them.
  std::int64_t hitsLeft = 0;
  // The time ran out before everything was sent.
  bool timedOut = false;
};

}  // namespace loomset
