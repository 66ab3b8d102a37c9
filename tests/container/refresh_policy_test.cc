#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "container/MOXRefreshPolicy.h"

namespace loomset {
namespace {

using Tokens = MOXRefreshPolicy::Tokens;

constexpr double kT0 = 1700000000000.0;
constexpr double kSecond = 1000;
constexpr double kMinute = 60 * kSecond;
constexpr double kHour = 60 * kMinute;

// Runs refresh attempts at the given times from a fresh bucket; answers which were accepted.
std::vector<bool> attempts(const std::vector<double>& times, Tokens* end = nullptr) {
  Tokens tokens;
  std::vector<bool> accepted;
  for (double t : times) {
    const auto decision = MOXRefreshPolicy::useAvailableTokenWithCurrentTime(tokens, t);
    accepted.push_back(decision.accepted);
    tokens = decision.tokens;
  }
  if (end) *end = tokens;
  return accepted;
}

TEST(RefreshTokenBucket, FirstIsAcceptedAndBurstsAreSpacedByFiveSeconds) {
  Tokens end;
  EXPECT_EQ(attempts({kT0}, &end), std::vector<bool>({true}));
  EXPECT_EQ(end.numTokens, 29u);
  EXPECT_EQ(end.lastRefreshMethodCalledTime, kT0);

  // Within 5 seconds of the last accepted one: ignored, and the bucket does not change.
  EXPECT_EQ(attempts({kT0, kT0 + 4999, kT0 + 5000}, &end), std::vector<bool>({true, false, true}));
  EXPECT_EQ(end.numTokens, 28u);
  EXPECT_EQ(end.lastRefreshMethodCalledTime, kT0 + 5000);

  // A wall clock set back is "within 5 seconds" too.
  EXPECT_EQ(attempts({kT0, kT0 - kHour}), std::vector<bool>({true, false}));
}

TEST(RefreshTokenBucket, ThirtyInARowEmptyItAndFifteenMinutesEarnOne) {
  std::vector<double> times;
  for (int i = 0; i < 31; ++i) times.push_back(kT0 + i * 5 * kSecond);
  Tokens end;
  std::vector<bool> accepted = attempts(times, &end);
  EXPECT_EQ(std::count(accepted.begin(), accepted.end(), true), 30);
  EXPECT_FALSE(accepted.back());
  EXPECT_EQ(end.numTokens, 0u);
  const double lastAccepted = times[29];
  EXPECT_EQ(end.lastRefreshMethodCalledTime, lastAccepted);

  // Tokens are earned since the last accepted refresh, not since the last attempt.
  auto at = [&](double t) { return MOXRefreshPolicy::useAvailableTokenWithCurrentTime(end, t); };
  EXPECT_FALSE(at(lastAccepted + 15 * kMinute - 1).accepted);
  const auto earned = at(lastAccepted + 15 * kMinute);
  EXPECT_TRUE(earned.accepted);
  EXPECT_EQ(earned.tokens.numTokens, 0u);
  EXPECT_FALSE(
      MOXRefreshPolicy::useAvailableTokenWithCurrentTime(earned.tokens, lastAccepted + 20 * kMinute)
          .accepted);

  // Two and a half periods earn two; a long pause fills the bucket to 30, never beyond.
  EXPECT_EQ(at(lastAccepted + 37.5 * kMinute).tokens.numTokens, 1u);
  EXPECT_EQ(at(lastAccepted + 48 * kHour).tokens.numTokens, 29u);
}

TEST(SavedResourceSchedule, FetchesAfterTheRestOfTwelveHours) {
  struct Case {
    double savedAgo;
    double expectedDelay;
  };
  for (const Case& c : std::vector<Case>{{13 * kHour, 0},
                                         {12 * kHour, 0},
                                         {1 * kHour, 11 * kHour},
                                         {0, 12 * kHour},
                                         {-1 * kHour, 12 * kHour},  // time stamp in the future
                                         {-100 * kHour, 12 * kHour}}) {
    EXPECT_DOUBLE_EQ(MOXRefreshPolicy::delayAfterSavedResource(kT0 - c.savedAgo, kT0),
                     c.expectedDelay)
        << "saved " << c.savedAgo / kHour << " h ago";
  }
}

TEST(LoadFailureTranslation, SavedAndNetworkTablesDiffer) {
  struct Case {
    int loadFailure;
    MOXContainerCallbackRefreshFailure saved;
    MOXContainerCallbackRefreshFailure network;
  };
  for (const Case& c : std::vector<Case>{{1, kMOXContainerCallbackRefreshFailureNoSavedContainer,
                                          kMOXContainerCallbackRefreshFailureNoNetwork},
                                         {2, kMOXContainerCallbackRefreshFailureIOError,
                                          kMOXContainerCallbackRefreshFailureNetworkError},
                                         {3, kMOXContainerCallbackRefreshFailureServerError,
                                          kMOXContainerCallbackRefreshFailureServerError},
                                         {0, kMOXContainerCallbackRefreshFailureUnknownError,
                                          kMOXContainerCallbackRefreshFailureUnknownError},
                                         {7, kMOXContainerCallbackRefreshFailureUnknownError,
                                          kMOXContainerCallbackRefreshFailureUnknownError}}) {
    const auto failure = static_cast<MOXLoadFailure>(c.loadFailure);
    EXPECT_EQ(MOXRefreshPolicy::savedLoadFailure(failure), c.saved) << c.loadFailure;
    EXPECT_EQ(MOXRefreshPolicy::networkLoadFailure(failure), c.network) << c.loadFailure;
  }
}

}  // namespace
}  // namespace loomset
