// The pixel dispatcher: one per process. Pixel tags hand it URLs (`sendHitToUrl`), which it
// stores under a rate limit of 60 hits and then one every 2 seconds, wrapped in the wrapper URL
// when one is set; every `dispatchInterval` seconds (120 by default) while there are hits, and on
// request, it sends up to 40 of them, one GET each, through the network of the container half.
// A hit that fails stays stored and is tried again no sooner than 120 seconds later; one whose
// first failure is more than 4 hours old when an attempt completes is given up.
//
// Threads: every operation may be called from any thread. The store, the timer and the sends in
// flight belong to the worker thread "MOXThread", where dispatch callbacks run.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "foundation/MOXRateLimiter.h"
#include "loomset/PLUHitMap.h"
#include "loomset/platform/Clock.h"
#include "loomset/platform/EventLoop.h"
#include "tags/MOXDataProvider.h"
#include "tags/MOXPixelNetwork.h"

namespace loomset {

class MOXDispatcher : public std::enable_shared_from_this<MOXDispatcher> {
 public:
  // Nothing to send (also: a dispatch in flight, not reachable, cancelled) 0, sent or given up
  // 1, failed and kept 2.
  using Callback = std::function<void(PLUDispatchOutcome outcome)>;

  static constexpr double kDefaultDispatchInterval = 120;
  static constexpr std::size_t kMaxRequestsPerDispatch = 40;

  struct Options {
    // The defaults: a store on WEN.sql, the installed network, the worker thread
    // (MOXDispatchUtil's), the platform's clock.
    std::shared_ptr<MOXDataProvider> store;
    std::shared_ptr<MOXPixelNetwork> network;
    std::shared_ptr<EventLoop> worker;
    std::shared_ptr<const Clock> clock;
  };

  // The shared dispatcher, created on first use with the platform bundle then in force.
  static std::shared_ptr<MOXDispatcher> instance();
  // Forgets the shared dispatcher (its timer stops); the next `instance` makes a new one.
  static void clearInstance();
  // The shared dispatcher if one has been created.
  static std::shared_ptr<MOXDispatcher> existingInstance();
  static std::shared_ptr<MOXDispatcher> create(Options options = Options());
  ~MOXDispatcher();
  MOXDispatcher(const MOXDispatcher&) = delete;
  MOXDispatcher& operator=(const MOXDispatcher&) = delete;

  void sendHitToUrl(const std::string& url);
  void dispatch();
  // With a callback, at most one hit is sent and the callback hears once how it went.
  void dispatchWithCallback(Callback callback);

  double dispatchInterval() const;
  // 0 or less: hits are sent only on request.
  void setDispatchInterval(double seconds);
  // With both set, each hit URL travels URL-encoded as the parameter of the wrapper URL.
  void setWrapper(std::optional<std::string> wrapperUrl,
                  std::optional<std::string> wrapperQueryParameter);

  // The network is reachable and hits are believed to be stored.
  bool canDispatch() const;
  // The same, with automatic dispatch switched on.
  bool canScheduleDispatch() const;
  // Whether the repeating timer runs (worker thread's view).
  bool hasTimer() const;

  const std::shared_ptr<MOXDataProvider>& store() const { return store_; }
  // Saves the store and waits for it.
  void onExit() { store_->onExit(); }

 private:
  explicit MOXDispatcher(Options options);
  void start();
  void timerFired();
  // Follows a change of the timer's condition (worker thread).
  void schedulingConditionChanged();
  void rescheduleDispatch();
  void dispatchOnWorker(Callback callback);
  void sendHit(const MOXHit& hit, const Callback& callback);
  void sendCompleted(const MOXHit& hit, const MOXPixelSendResult& result, const Callback& callback);
  // The timer runs while automatic dispatch is on and hits are stored; reachability is asked
  // when it fires.
  bool timerWanted() const;

  const std::shared_ptr<MOXDataProvider> store_;
  const std::shared_ptr<MOXPixelNetwork> network_;
  const std::shared_ptr<EventLoop> worker_;
  const std::shared_ptr<const Clock> clock_;
  const std::shared_ptr<MOXRateLimiter> rateLimiter_;

  mutable Mutex mu_;
  double dispatchInterval_ GUARDED_BY(mu_) = kDefaultDispatchInterval;
  std::optional<std::string> wrapperUrl_ GUARDED_BY(mu_);
  std::optional<std::string> wrapperQueryParameter_ GUARDED_BY(mu_);

  // Worker thread only.
  std::shared_ptr<TimerHandle> firstFire_;
  std::shared_ptr<TimerHandle> timer_;
  double timerInterval_ = 0;
  bool timerWanted_ = false;
  std::atomic<bool> timerRunning_{false};
  // A dispatch is fetching or has sends in flight.
  bool dispatching_ = false;
  std::size_t operations_ = 0;
};

}  // namespace loomset
