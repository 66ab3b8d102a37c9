// A token bucket: bursts of up to `maxTokens` events, then one event per `secondsPerToken`. The
// pixel dispatcher asks it before storing each hit (60 tokens, one more every 2 seconds).
//
// The decision is the pure function `MOXTakeToken`; MOXRateLimiter adds the platform's clock, a
// lock and the warning "Excessive tracking detected and throttled." for each refusal.
//
// Threads: `tokenAvailable` may be called from any thread.
#pragma once

#include <memory>

#include "Library/Util/platform/Mutex.h"
#include "loomset/platform/Clock.h"

namespace loomset {

struct MOXTokenBucket {
  double maxTokens = 0;
  double secondsPerToken = 0;
  double tokens = 0;
  // Seconds since the platform reference date of the last decision; 0 before the first, so the
  // first decision finds the bucket full.
  double lastTrackTime = 0;
};

// Refills the bucket for the time since the last decision (fractions of a token accumulate, the
// total never passes `maxTokens`; a clock that went back refills nothing), records `now`, and
// takes a token if there is a whole one. A bucket whose `secondsPerToken` is not positive never
// gives one.
bool MOXTakeToken(MOXTokenBucket& bucket, double now);

class MOXRateLimiter {
 public:
  // A limiter on the clock given, or on the current platform's clock.
  static std::shared_ptr<MOXRateLimiter> rateLimiterWithMaxTokens(
      double maxTokens, double secondsPerToken, std::shared_ptr<const Clock> clock = nullptr);

  // Takes a token if one is available; false, with a warning, when the event is throttled.
  bool tokenAvailable();

  double maxTokens() const { return maxTokens_; }
  double secondsPerToken() const { return secondsPerToken_; }
  double tokens() const;

 private:
  MOXRateLimiter(double maxTokens, double secondsPerToken, std::shared_ptr<const Clock> clock);

  const double maxTokens_;
  const double secondsPerToken_;
  const std::shared_ptr<const Clock> clock_;
  mutable Mutex mu_;
  MOXTokenBucket bucket_ GUARDED_BY(mu_);
};

}  // namespace loomset
