// The tracker's rate limit as a pure function: a bucket of 60 credits that refills at one credit
// every two seconds; each hit takes one credit or is throttled.
#pragma once

namespace loomset {

struct PLUTokenBucket {
  static constexpr double kCapacity = 60.0;
  static constexpr double kCreditsPerSecond = 0.5;

  double trackingCredits = kCapacity;
  // Seconds since the platform reference date; 0 means never.
  double lastTrackTime = 0;
};

// Refills the bucket for the time since the last hit, records `now` as the last hit time and
// takes one credit. True when the hit may pass; false when it is throttled.
bool plu_takeTrackingCredit(PLUTokenBucket& bucket, double now);

}  // namespace loomset
