// Where the manager's dispatch requests go: the two hit dispatchers of the tags that send data out
// of the process, the pixel dispatcher (MOXDispatcher) and the analytics facade's. Kept under
// tags/ because the container half may not reach the analytics half itself; the manager calls
// these and nothing else of it.
//
// `dispatchInterval` answers the pixel dispatcher's; setting it sets both. `dispatch` runs the
// pixel dispatcher, then the analytics one. A completion handler goes to the analytics
// dispatcher first; only when that had nothing to send does the pixel dispatcher run, with the
// handler.
//
// Threads: every operation may be called from any thread; completion handlers run on the
// analytics worker thread, or on the container half's worker thread when the pixel dispatcher
// answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "loomset/PLUDelivery.h"
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
  // The application is leaving the foreground or terminating: every store of both halves saves
  // (the pixel hit store, the analytics hit stores, the data-layer store) before this returns.
  static void saveAllStores();

  struct FlushOutcome {
    PLUFlushResult hits;
    std::size_t pixelsSent = 0;
    // -1 when the pixel store could not be counted in time.
    std::int64_t pixelsLeft = 0;
    bool pixelsTimedOut = false;
  };
  // Saves every store, flushes the analytics hits (`PLU::flush`), then sends pixels one by one
  // with the time left, until none is left, one fails, or the time is up. On the pixel worker
  // thread the pixels are only counted, not sent (its sends could not complete).
  static FlushOutcome flush(double timeoutSeconds);
};

}  // namespace loomset
