// The container's timing and failure decisions, as pure functions of (state, input):
//
// - the refresh token bucket: 30 tokens; an application `refresh` is accepted when a token is
//   left, never within 5 seconds of the last accepted one; one token is earned per 15 minutes
//   since the last accepted refresh (not since the last attempt), up to 30;
// - the delay of the first fetch after a saved copy was applied: the rest of 12 hours since it
//   was fetched, at least 0 and at most 12 hours (a time stamp in the future waits 12 hours);
// - the translation of a loader's failure code into what the application is told, one table for
//   the saved copy and one for the network.
//
// Times are milliseconds since 1970, as the container keeps them.
#pragma once

#include <cstdint>

#include "container/loading/MOXLoadCallback.h"
#include "loomset/MOXContainerCallback.h"

namespace loomset {

class MOXRefreshPolicy {
 public:
  static constexpr double kRefreshPeriodOnSuccess = 43200000;  // 12 hours
  static constexpr double kRefreshPeriodOnFailure = 3600000;   // 1 hour
  static constexpr double kMinimumRefreshPeriod = 900000;      // earns one token: 15 minutes
  static constexpr double kMinimumRefreshPeriodInBurstMode = 5000;
  static constexpr std::uint64_t kMaximumTokenCount = 30;

  struct Tokens {
    // When `refresh` was last accepted; 0 before the first.
    double lastRefreshMethodCalledTime = 0;
    std::uint64_t numTokens = kMaximumTokenCount;
  };
  struct TokenDecision {
    bool accepted;
    // The bucket afterwards; `lastRefreshMethodCalledTime` is `now` when accepted.
    Tokens tokens;
  };
  static TokenDecision useAvailableTokenWithCurrentTime(Tokens tokens, double now);

  static double delayAfterSavedResource(double lastRefreshTime, double now);

  static MOXContainerCallbackRefreshFailure savedLoadFailure(MOXLoadFailure failure);
  static MOXContainerCallbackRefreshFailure networkLoadFailure(MOXLoadFailure failure);
};

}  // namespace loomset
