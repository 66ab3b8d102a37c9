// Where the manager's dispatch requests go: the hit dispatchers of the tags that send data out of
// the process. Kept under tags/ because the container half may not reach the analytics half
// itself; the manager calls these and nothing else of it.
//
// Today this is the analytics facade's dispatcher alone. The pixel dispatcher joins when the
// pixel tag does: `dispatch` then runs it first, `dispatchInterval` answers its interval and the
// completion handler runs it when the analytics dispatcher had nothing to send.
//
// Threads: every operation may be called from any thread; completion handlers run on the
// analytics worker thread.
#pragma once

#include <functional>

#include "loomset/PLUHitMap.h"

namespace loomset {

class MOXHitDelivery {
 public:
  static double dispatchInterval();
  static void setDispatchInterval(double seconds);
  static void dispatch();
  // Nothing to send (0), sent (1) or failed (2) reach the handler; other outcomes are dropped.
  // A null handler is the same as `dispatch`.
  static void dispatchWithCompletionHandler(std::function<void(PLUDispatchOutcome)> handler);
};

}  // namespace loomset
