// A Clock that stands still until its owner moves it: simulated time for tests and for tools that
// replay a scenario deterministically. `advance` moves wall and monotonic time together, as real
// time passes; `setNowMillis` changes the wall clock alone, as a user changing the device's date
// would, and never moves monotonic time.
//
// Threads: safe from any thread.
#pragma once

#include <chrono>
#include <mutex>

#include "loomset/Export.h"
#include "loomset/platform/Clock.h"

namespace loomset {

class LOOMSET_EXPORT ManualClock final : public Clock {
 public:
  // 2023-11-14 22:13:20 UTC: a round, recent instant, far from the epoch and the reference date.
  static constexpr double kDefaultStartMillis = 1700000000000.0;

  explicit ManualClock(double nowMillis = kDefaultStartMillis) : wallMillis_(nowMillis) {}

  double nowMillis() const override;
  std::chrono::steady_clock::time_point monotonicNow() const override;

  void setNowMillis(double millis);
  // Moves both clocks forward; a negative amount is ignored (monotonic time never goes back).
  void advance(double millis);
  void advance(std::chrono::nanoseconds amount);
  void advanceSeconds(double seconds) { advance(seconds * 1000.0); }

 private:
  mutable std::mutex mu_;
  double wallMillis_;
  // Well away from zero so that "time point minus an interval" stays meaningful.
  std::chrono::steady_clock::time_point monotonic_{std::chrono::hours(24)};
};

}  // namespace loomset
