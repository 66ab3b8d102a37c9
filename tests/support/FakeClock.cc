#include "support/FakeClock.h"

namespace loomset::testing {

double FakeClock::nowMillis() const {
  std::lock_guard<std::mutex> lock(mu_);
  return wallMillis_;
}

std::chrono::steady_clock::time_point FakeClock::monotonicNow() const {
  std::lock_guard<std::mutex> lock(mu_);
  return monotonic_;
}

void FakeClock::setNowMillis(double millis) {
  std::lock_guard<std::mutex> lock(mu_);
  wallMillis_ = millis;
}

void FakeClock::advance(double millis) {
  if (!(millis > 0)) return;
  advance(std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double, std::milli>(millis)));
}

void FakeClock::advance(std::chrono::nanoseconds amount) {
  if (amount.count() <= 0) return;
  std::lock_guard<std::mutex> lock(mu_);
  monotonic_ += amount;
  wallMillis_ += std::chrono::duration<double, std::milli>(amount).count();
}

}  // namespace loomset::testing
