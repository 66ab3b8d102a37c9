#include "tags/MOXHitDelivery.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "Library/Util/platform/Mutex.h"
#include "loomset/PLU.h"
#include "loomset/platform/Platform.h"
#include "tags/MOXDispatcher.h"

namespace loomset {
namespace {

// One answer from the pixel worker, awaited until a deadline on the platform clock (which a test
// may move) and never past the same span of real time.
template <typename T>
class DeadlineWait {
 public:
  DeadlineWait(std::shared_ptr<const Clock> clock, std::chrono::steady_clock::time_point deadline,
               std::chrono::steady_clock::time_point realDeadline)
      : clock_(std::move(clock)), deadline_(deadline), realDeadline_(realDeadline) {}

  void answer(T value) {
    MutexLock lock(mu_);
    if (!value_) value_ = std::move(value);
    changed_.notifyAll();
  }

  std::optional<T> wait() {
    MutexLock lock(mu_);
    while (!value_) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= realDeadline_ || clock_->monotonicNow() >= deadline_) break;
      changed_.waitFor(mu_, std::min<std::chrono::nanoseconds>(realDeadline_ - now,
                                                               std::chrono::milliseconds(20)));
    }
    return value_;
  }

 private:
  const std::shared_ptr<const Clock> clock_;
  const std::chrono::steady_clock::time_point deadline_;
  const std::chrono::steady_clock::time_point realDeadline_;
  Mutex mu_;
  CondVar changed_;
  std::optional<T> value_ GUARDED_BY(mu_);
};

}  // namespace

double MOXHitDelivery::dispatchInterval() {
  return MOXDispatcher::instance()->dispatchInterval();
}

void MOXHitDelivery::setDispatchInterval(double seconds) {
  MOXDispatcher::instance()->setDispatchInterval(seconds);
  PLU::sharedInstance()->setDispatchInterval(seconds);
}

void MOXHitDelivery::dispatch() {
  MOXDispatcher::instance()->dispatch();
  PLU::sharedInstance()->dispatch();
}

void MOXHitDelivery::dispatchWithCompletionHandler(
    std::function<void(PLUDispatchOutcome)> handler) {
  if (!handler) {
    dispatch();
    return;
  }
  const auto pixels = MOXDispatcher::instance();
  PLU::sharedInstance()->dispatchWithCompletionHandler(
      [handler = std::move(handler), pixels](PLUDispatchOutcome outcome) {
        switch (outcome) {
          case kPLUDispatchNothingToSend:
            pixels->dispatchWithCallback(handler);
            return;
          case kPLUDispatchSent:
          case kPLUDispatchFailed:
            handler(outcome);
            return;
        }
      });
}

void MOXHitDelivery::saveAllStores() {
  // The analytics facade's entry point saves its own stores and runs every registered saver.
  PLU::applicationWillResignActive();
}

MOXHitDelivery::FlushOutcome MOXHitDelivery::flush(double timeoutSeconds) {
  const auto platform = Platform::current();
  const double timeout = timeoutSeconds > 0 ? std::min(timeoutSeconds, 365.0 * 24 * 3600) : 0;
  const auto span =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(timeout));
  const auto deadline = platform->clock->monotonicNow() + span;
  const auto realDeadline = std::chrono::steady_clock::now() + span;

  FlushOutcome outcome;
  // Saves every store of both halves before it sends anything.
  outcome.hits = PLU::sharedInstance()->flush(timeout);

  const auto pixels = MOXDispatcher::instance();
  auto secondsLeft = [&] {
    return std::chrono::duration<double>(deadline - platform->clock->monotonicNow()).count();
  };
  const bool onPixelWorker = pixels->store()->worker()->isCurrent();
  while (!onPixelWorker) {
    if (secondsLeft() <= 0 || std::chrono::steady_clock::now() >= realDeadline) {
      outcome.pixelsTimedOut = true;
      break;
    }
    auto sent =
        std::make_shared<DeadlineWait<PLUDispatchOutcome>>(platform->clock, deadline, realDeadline);
    pixels->dispatchWithCallback([sent](PLUDispatchOutcome o) { sent->answer(o); });
    const auto answer = sent->wait();
    if (!answer) {
      outcome.pixelsTimedOut = true;
      break;
    }
    if (*answer != kPLUDispatchSent) break;
    ++outcome.pixelsSent;
  }

  if (onPixelWorker) {
    outcome.pixelsLeft = -1;
    return outcome;
  }
  auto counted =
      std::make_shared<DeadlineWait<std::int64_t>>(platform->clock, deadline, realDeadline);
  pixels->store()->fetchHitsWithLimit(0, [counted](std::vector<MOXHit> hits) {
    counted->answer(static_cast<std::int64_t>(hits.size()));
  });
  outcome.pixelsLeft = counted->wait().value_or(-1);
  return outcome;
}

}  // namespace loomset
