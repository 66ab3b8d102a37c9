#include "foundation/MOXRateLimiter.h"

#include <algorithm>
#include <utility>

#include "loomset/MOXLog.h"
#include "loomset/platform/Platform.h"

namespace loomset {

bool MOXTakeToken(MOXTokenBucket& bucket, double now) {
  if (!(bucket.secondsPerToken > 0)) return false;
  if (bucket.tokens < bucket.maxTokens) {
    const double elapsed = std::max(0.0, now - bucket.lastTrackTime);
    bucket.tokens = std::min(bucket.maxTokens, bucket.tokens + elapsed / bucket.secondsPerToken);
  }
  bucket.lastTrackTime = now;
  if (bucket.tokens >= 1) {
    bucket.tokens -= 1;
    return true;
  }
  return false;
}

std::shared_ptr<MOXRateLimiter> MOXRateLimiter::rateLimiterWithMaxTokens(
    double maxTokens, double secondsPerToken, std::shared_ptr<const Clock> clock) {
  if (!clock) clock = Platform::current()->clock;
  return std::shared_ptr<MOXRateLimiter>(
      new MOXRateLimiter(maxTokens, secondsPerToken, std::move(clock)));
}

MOXRateLimiter::MOXRateLimiter(double maxTokens, double secondsPerToken,
                               std::shared_ptr<const Clock> clock)
    : maxTokens_(maxTokens), secondsPerToken_(secondsPerToken), clock_(std::move(clock)) {
  bucket_.maxTokens = maxTokens;
  bucket_.secondsPerToken = secondsPerToken;
}

bool MOXRateLimiter::tokenAvailable() {
  bool available;
  {
    MutexLock lock(mu_);
    available = MOXTakeToken(bucket_, clock_->secondsSinceReferenceDate());
  }
  if (!available) MOXLog::warning("Excessive tracking detected and throttled.");
  return available;
}

double MOXRateLimiter::tokens() const {
  MutexLock lock(mu_);
  return bucket_.tokens;
}

}  // namespace loomset
