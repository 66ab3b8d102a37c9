#include "analytics/dispatch/PLUFlushRun.h"

#include <algorithm>
#include <cmath>

#include "loomset/platform/Clock.h"
#include "loomset/platform/EventLoop.h"

namespace loomset {
namespace {

// A NaN, negative or absurd time-out must not make a wait of its own.
double saneTimeout(double seconds) {
  if (!(seconds > 0)) return 0;
  return std::min(seconds, 365.0 * 24 * 3600);
}

std::chrono::nanoseconds toDuration(double seconds) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double>(seconds));
}

// How often a waiting caller looks at the platform clock, which may be moved by a test.
constexpr std::chrono::milliseconds kClockPollInterval(20);

}  // namespace

PLUFlushRun::PLUFlushRun(std::shared_ptr<const Clock> clock, double timeoutSeconds)
    : clock_(std::move(clock)),
      timeoutSeconds_(saneTimeout(timeoutSeconds)),
      deadline_(clock_->monotonicNow() + toDuration(timeoutSeconds_)),
      realDeadline_(std::chrono::steady_clock::now() + toDuration(timeoutSeconds_)) {}

double PLUFlushRun::secondsLeft() const {
  const auto left = std::chrono::duration<double>(deadline_ - clock_->monotonicNow()).count();
  return std::max(left, 0.0);
}

void PLUFlushRun::setHitsLeft(std::int64_t hitsLeft) {
  MutexLock lock(mu_);
  if (!finished_) result_.hitsLeft = hitsLeft;
}

void PLUFlushRun::addReport(const PLUDispatchReport& report) {
  MutexLock lock(mu_);
  if (finished_) return;
  result_.hitsSent += report.hitsSent;
  result_.hitsDeleted += report.hitsDeleted;
  result_.hitsLeft = report.hitsKept;
}

void PLUFlushRun::setDeadlineTimer(std::shared_ptr<TimerHandle> timer) {
  {
    MutexLock lock(mu_);
    if (!finished_) {
      deadlineTimer_ = std::move(timer);
      return;
    }
  }
  if (timer) timer->cancel();
}

std::shared_ptr<TimerHandle> PLUFlushRun::finishLocked(bool timedOut) {
  if (finished_) return nullptr;
  finished_ = true;
  result_.timedOut = timedOut;
  changed_.notifyAll();
  return std::move(deadlineTimer_);
}

void PLUFlushRun::finish(bool timedOut) {
  std::shared_ptr<TimerHandle> timer;
  {
    MutexLock lock(mu_);
    timer = finishLocked(timedOut);
  }
  if (timer) timer->cancel();
}

bool PLUFlushRun::finished() const {
  MutexLock lock(mu_);
  return finished_;
}

PLUFlushResult PLUFlushRun::wait() {
  MutexLock lock(mu_);
  while (!finished_) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= realDeadline_ || deadlinePassed()) break;
    changed_.waitFor(mu_,
                     std::min<std::chrono::nanoseconds>(realDeadline_ - now, kClockPollInterval));
  }
  std::shared_ptr<TimerHandle> timer = finishLocked(true);
  const PLUFlushResult result = result_;
  lock.unlock();
  if (timer) timer->cancel();
  return result;
}

PLUFlushResult PLUFlushRun::stop() {
  MutexLock lock(mu_);
  std::shared_ptr<TimerHandle> timer = finishLocked(true);
  const PLUFlushResult result = result_;
  lock.unlock();
  if (timer) timer->cancel();
  return result;
}

}  // namespace loomset
