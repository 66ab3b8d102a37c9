// The analytics facade: one per process. It owns the registry of trackers (by name), the default
// tracker, the dispatcher that stores and sends hits, the analytics logger and the switches
// (opt-out, dry run, crash reporting, dispatch interval). The container's analytics tag and
// applications reach trackers only through it.
//
// Threads: every operation may be called from any thread; the facade serialises them on its
// own lock. Dispatch completion handlers run on the analytics worker thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "loomset/Export.h"
#include "loomset/PLUHitMap.h"
#include "loomset/PLULogger.h"
#include "loomset/PLUTracker.h"

namespace loomset {

class EventLoop;
class PLUDispatcher;
class PLUModelEnvironment;
class PLUUserDefaults;
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
  // The analytics worker thread ("PLUThread"), created on first request, alive for the process.
  static std::shared_ptr<EventLoop> thread();
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
  // The same without recording API usage, for the library's own callers.
  std::shared_ptr<PLUTracker> plu_defaultTracker();
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

  // The dispatcher, created again when an earlier attempt failed; nil when it cannot be.
  std::shared_ptr<PLUDispatcher> dispatcher();
  // Where the analytics half keeps its user defaults ("PLUFirstInitTimeStamp", ...).
  std::shared_ptr<PLUUserDefaults> userDefaults() const { return userDefaults_; }

 private:
  friend struct PLUInstanceControl;
  explicit PLU(std::shared_ptr<const Platform> platform);

  std::shared_ptr<PLUDispatcher> dispatcherLocked();
  bool dispatcherAttempted_ = false;  // guarded by mu_

  // Constant after construction.
  const std::shared_ptr<const Platform> platform_;
  std::shared_ptr<const PLUModelEnvironment> environment_;
  std::shared_ptr<PLUUserDefaults> userDefaults_;

  std::mutex mu_;
  // Guarded by mu_.
  std::unordered_map<std::string, std::shared_ptr<PLUTracker>> trackers_;
  std::shared_ptr<PLUTracker> defaultTracker_;
  std::shared_ptr<PLUDispatcher> dispatcher_;
  bool optOut_ = false;
  bool dryRun_ = false;
  bool trackUncaughtExceptions_ = false;
};

}  // namespace loomset
