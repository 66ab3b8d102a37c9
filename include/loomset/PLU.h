// The analytics facade: one per process. It owns the registry of trackers (by name), the default
// tracker, the dispatcher that stores and sends hits, the analytics logger and the switches
// (opt-out, dry run, crash reporting, dispatch interval). The container's analytics tag and
// applications reach trackers only through it.
//
// The facade takes the platform bundle in force when it is created (`Platform::setCurrent`
// before first use) and hands it, with its worker thread ("PLUThread" of the bundle), its stores
// and its collection endpoints, down to everything below it.
//
// Threads: every operation may be called from any thread; the facade serialises them on its
// own lock. Dispatch completion handlers run on the analytics worker thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "loomset/Export.h"
#include "loomset/PLUDelivery.h"
#include "loomset/PLUHitMap.h"
#include "loomset/PLULogger.h"
#include "loomset/PLUTracker.h"

namespace loomset {

struct Platform;

class LOOMSET_EXPORT PLU {
 public:
  using DispatchCompletion = std::function<void(PLUDispatchOutcome)>;

  ~PLU();
  PLU(const PLU&) = delete;
  PLU& operator=(const PLU&) = delete;

  // The facade, created on first use with the platform bundle in force at that moment.
  static std::shared_ptr<PLU> sharedInstance();
  // The facade's logger; every component of the analytics half logs through it.
  static std::shared_ptr<PLULogger> sharedLogger();
  // The application calls these when it is about to resign active or to terminate: every hit
  // store saves what it holds.
  static void applicationWillResignActive();
  static void applicationWillTerminate();

  // The tracker of that name; created with the tracking id as its "&tid" when new (the tracking
  // id is ignored for an existing tracker). Nil for a blank name or without a dispatcher.
  std::shared_ptr<PLUTracker> trackerWithName(const std::string& name,
                                              const std::string& trackingId);
  // The tracking id serves as the name too.
  std::shared_ptr<PLUTracker> trackerWithTrackingId(const std::string& trackingId);
  void removeTrackerByName(const std::string& name);

  // The first tracker created, unless set explicitly; nil after it is removed.
  std::shared_ptr<PLUTracker> defaultTracker();
  void setDefaultTracker(std::shared_ptr<PLUTracker> tracker);
  std::shared_ptr<PLULogger> logger();
  void setLogger(std::shared_ptr<PLULogger> logger);
  // While set, hits are dropped and stored ones deleted.
  bool optOut();
  void setOptOut(bool optOut);
  // While set, dispatches complete as sent without network traffic.
  bool dryRun();
  void setDryRun(bool dryRun);
  // Reports the first uncaught C++ exception of the process as a fatal exception hit through the
  // default tracker.
  bool trackUncaughtExceptions();
  void setTrackUncaughtExceptions(bool track);
  // Seconds between periodic dispatches (120 by default); 0 or less dispatches only on request.
  double dispatchInterval();
  void setDispatchInterval(double seconds);

  void dispatch();
  // A handler switches periodic dispatch off until a positive interval is set again.
  void dispatchWithCompletionHandler(DispatchCompletion handler);
  // The installation's client id ("" without a dispatcher).
  std::string clientId();

  // Hears about every dispatch that sent, deleted or failed hits, on the main loop. Answers the
  // token that removes it again (0, with nothing registered, for an empty observer).
  PLUObserverToken addDeliveryObserver(PLUDeliveryObserver observer);
  // Once this returns on the main loop, the observer is not called again; from another thread, a
  // report being delivered at that moment may still reach it.
  void removeDeliveryObserver(PLUObserverToken token);

  // Saves every store, then sends stored hits batch after batch until none is left, a request
  // gets no answer, or `timeoutSeconds` have passed; returns no later than that, also while the
  // collector is unreachable or holds its answer (a request still in flight then completes in the
  // background, its hits counted as left). Periodic dispatch is left as it was.
  // Safe on the main loop's thread: nothing it waits for runs there (reports and completion
  // handlers queued meanwhile run after it returns). On the analytics worker thread it cannot
  // wait for itself: it only saves and answers what is stored.
  PLUFlushResult flush(double timeoutSeconds);

 private:
  friend struct PLUInternal;
  class State;
  explicit PLU(std::shared_ptr<const Platform> platform);

  const std::unique_ptr<State> state_;
};

}  // namespace loomset
