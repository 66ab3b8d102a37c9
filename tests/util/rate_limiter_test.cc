// The token bucket as a pure function, by outcome, and the limiter on the platform's clock.
#include <gtest/gtest.h>

#include "foundation/MOXRateLimiter.h"
#include "support/RecordingLogger.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

constexpr double kNow = 720000000.0;  // seconds since the reference date

// How many of `calls` decisions at `now` pass.
int granted(MOXTokenBucket& bucket, double now, int calls) {
  int passed = 0;
  for (int i = 0; i < calls; ++i) passed += MOXTakeToken(bucket, now);
  return passed;
}

TEST(TokenBucket, GrantsABurstThenOneTokenPerPeriod) {
  MOXTokenBucket bucket{60, 2.0};
  // Never used: the bucket starts full.
  EXPECT_EQ(granted(bucket, kNow, 61), 60);
  EXPECT_EQ(granted(bucket, kNow + 1.0, 1), 0);  // half a token
  EXPECT_EQ(granted(bucket, kNow + 2.0, 2), 1);  // halves add up
  EXPECT_EQ(granted(bucket, kNow + 8.0, 5), 3);
  // A long pause fills the bucket, never beyond its size.
  EXPECT_EQ(granted(bucket, kNow + 86400.0, 100), 60);
}

TEST(TokenBucket, NeverGrantsWithoutAPositivePeriod) {
  for (const double period : {0.0, -1.0}) {
    MOXTokenBucket bucket{60, period};
    EXPECT_EQ(granted(bucket, kNow, 3), 0) << period;
    EXPECT_EQ(granted(bucket, kNow + 86400.0, 3), 0) << period;
  }
}

TEST(TokenBucket, AClockThatGoesBackRefillsNothingAndTakesNothing) {
  MOXTokenBucket bucket{60, 2.0};
  EXPECT_EQ(granted(bucket, kNow, 60), 60);
  EXPECT_EQ(granted(bucket, kNow - 86400.0, 1), 0);
  EXPECT_GE(bucket.tokens, 0.0);
  // Counting resumes from the earlier time: two seconds earn a token again.
  EXPECT_EQ(granted(bucket, kNow - 86400.0 + 2.0, 2), 1);
}

TEST(RateLimiter, ReadsThePlatformClockAndWarnsWhenItThrottles) {
  testing::ScopedPlatform platform;
  testing::ScopedRecordingLogger log;
  auto limiter = MOXRateLimiter::rateLimiterWithMaxTokens(60, 2.0);
  int passed = 0;
  for (int i = 0; i < 60; ++i) passed += limiter->tokenAvailable();
  EXPECT_EQ(passed, 60);
  EXPECT_FALSE(log->contains("Excessive tracking detected and throttled."));
  EXPECT_FALSE(limiter->tokenAvailable());
  EXPECT_EQ(log->count("Excessive tracking detected and throttled."), 1);

  platform.clock().advanceSeconds(2.0);
  EXPECT_TRUE(limiter->tokenAvailable());
  EXPECT_FALSE(limiter->tokenAvailable());
}

}  // namespace
}  // namespace loomset
