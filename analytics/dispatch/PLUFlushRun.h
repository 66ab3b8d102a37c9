// One bounded flush, shared between the thread that asked for it and the dispatcher's worker. The
// worker adds each dispatch's report and finishes the run when nothing is left to send, a request
// gets no answer, or the deadline passes; the caller waits for that, but never past the deadline
// itself, and then takes what the run has reached so far (the hits still stored as last counted,
// a request in flight included) and stops it.
//
// The deadline is on the platform clock's monotonic time, so a fake clock decides it in tests; as
// a fake clock may stand still, the caller's wait is also bounded by the same span of real time.
//
// Threads: every operation is safe from any thread.
#pragma once

#include <chrono>
#include <memory>

#include "Library/Util/platform/Mutex.h"
#include "loomset/PLUDelivery.h"

namespace loomset {

class Clock;
class TimerHandle;

class PLUFlushRun {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  PLUFlushRun(std::shared_ptr<const Clock> clock, double timeoutSeconds);

  TimePoint deadline() const { return deadline_; }
  // The same span on the real steady clock.
  std::chrono::steady_clock::time_point realDeadline() const { return realDeadline_; }
  // The seconds left until the deadline on the platform clock (0 once it has passed).
  double secondsLeft() const;
  bool deadlinePassed() const { return secondsLeft() <= 0; }

  // Worker side. The timer is cancelled when the run finishes.
  void setDeadlineTimer(std::shared_ptr<TimerHandle> timer);
  void setHitsLeft(std::int64_t hitsLeft);
  void addReport(const PLUDispatchReport& report);
  // The first call decides; later ones change nothing.
  void finish(bool timedOut);
  bool finished() const;

  // Caller side: blocks until the run is finished or the deadline has passed, then finishes it
  // (timed out, when the worker had not) and answers its result.
  PLUFlushResult wait();
  // The result at once, as `wait` would answer when the time has run out.
  PLUFlushResult stop();

 private:
  // Marks the run finished and hands back the timer to cancel outside the lock.
  std::shared_ptr<TimerHandle> finishLocked(bool timedOut) REQUIRES(mu_);

  const std::shared_ptr<const Clock> clock_;
  const double timeoutSeconds_;
  const TimePoint deadline_;
  const std::chrono::steady_clock::time_point realDeadline_;

  mutable Mutex mu_;
  CondVar changed_;
  PLUFlushResult result_ GUARDED_BY(mu_);
  bool finished_ GUARDED_BY(mu_) = false;
  std::shared_ptr<TimerHandle> deadlineTimer_ GUARDED_BY(mu_);
};

}  // namespace loomset
