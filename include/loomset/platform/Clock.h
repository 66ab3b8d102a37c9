// Time as the library reads it. Nothing else in the library reads the system clock, so tests can
// hand in a fake clock and make timers, token buckets, lifetimes and ages move without sleeping.
//
// Threads: implementations are safe to call from any thread.
#pragma once

#include <chrono>
#include <cstdint>

#include "loomset/Export.h"

namespace loomset {

class LOOMSET_EXPORT Clock {
 public:
  // Seconds between 1970-01-01 and the platform reference date 2001-01-01.
  static constexpr double kReferenceDateOffsetSeconds = 978307200.0;

  virtual ~Clock() = default;
  // Wall time in milliseconds since 1970.
  virtual double nowMillis() const = 0;
  // A clock that never goes back, for intervals and timers.
  virtual std::chrono::steady_clock::time_point monotonicNow() const = 0;

  double nowSeconds() const { return nowMillis() / 1000.0; }
  double secondsSinceReferenceDate() const { return nowSeconds() - kReferenceDateOffsetSeconds; }
  std::int64_t nowMillisInt() const { return static_cast<std::int64_t>(nowMillis()); }
};

class LOOMSET_EXPORT SystemClock final : public Clock {
 public:
  double nowMillis() const override;
  std::chrono::steady_clock::time_point monotonicNow() const override {
    return std::chrono::steady_clock::now();
  }
};

}  // namespace loomset
