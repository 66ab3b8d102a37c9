#include "container/MOXRefreshPolicy.h"

#include <algorithm>
#include <cmath>

namespace loomset {

MOXRefreshPolicy::TokenDecision MOXRefreshPolicy::useAvailableTokenWithCurrentTime(Tokens tokens,
                                                                                   double now) {
  if (tokens.lastRefreshMethodCalledTime == 0) {
    if (tokens.numTokens > 0) --tokens.numTokens;
    tokens.lastRefreshMethodCalledTime = now;
    return {true, tokens};
  }
  const double elapsed = now - tokens.lastRefreshMethodCalledTime;
  if (elapsed < kMinimumRefreshPeriodInBurstMode) return {false, tokens};
  if (tokens.numTokens < kMaximumTokenCount) {
    // Truncated to 32 bits like the count it is added to; `elapsed` is at least 5 s here, so the
    // quotient is never negative.
    const double earned = std::floor(elapsed / kMinimumRefreshPeriod);
    const std::uint64_t add =
        earned >= 4294967295.0 ? 4294967295u : static_cast<std::uint32_t>(earned);
    tokens.numTokens = std::min<std::uint64_t>(kMaximumTokenCount, tokens.numTokens + add);
  }
  if (tokens.numTokens == 0) return {false, tokens};
  --tokens.numTokens;
  tokens.lastRefreshMethodCalledTime = now;
  return {true, tokens};
}

double MOXRefreshPolicy::delayAfterSavedResource(double lastRefreshTime, double now) {
  const double delay = lastRefreshTime + kRefreshPeriodOnSuccess - now;
  if (delay > kRefreshPeriodOnSuccess) return kRefreshPeriodOnSuccess;
  if (delay < 0) return 0;
  return delay;
}

MOXContainerCallbackRefreshFailure MOXRefreshPolicy::savedLoadFailure(MOXLoadFailure failure) {
  switch (failure) {
    case kMOXLoadFailureNotAvailable:
      return kMOXContainerCallbackRefreshFailureNoSavedContainer;
    case kMOXLoadFailureIOError:
      return kMOXContainerCallbackRefreshFailureIOError;
    case kMOXLoadFailureServerError:
      return kMOXContainerCallbackRefreshFailureServerError;
  }
  return kMOXContainerCallbackRefreshFailureUnknownError;
}

MOXContainerCallbackRefreshFailure MOXRefreshPolicy::networkLoadFailure(MOXLoadFailure failure) {
  switch (failure) {
    case kMOXLoadFailureNotAvailable:
      return kMOXContainerCallbackRefreshFailureNoNetwork;
    case kMOXLoadFailureIOError:
      return kMOXContainerCallbackRefreshFailureNetworkError;
    case kMOXLoadFailureServerError:
      return kMOXContainerCallbackRefreshFailureServerError;
  }
  return kMOXContainerCallbackRefreshFailureUnknownError;
}

}  // namespace loomset
