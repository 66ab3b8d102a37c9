#include "Library/Util/platform/ManualClock.h"

namespace loomset {

double ManualClock::nowMillis() const {
  std::lock_guard<std::mutex> lock(mu_);
  return wallMillis_;
}

std::chrono::steady_clock::time_point ManualClock::monotonicNow() const {
  std::lock_guard<std::mutex> lock(mu_);
  return monotonic_;
}

void ManualClock::setNowMillis(double millis) {
  std::lock_guard<std::mutex> lock(mu_);
  wallMillis_ = millis;
}

void ManualClock::advance(double millis) {
  if (!(millis > 0)) return;
  advance(std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double, std::milli>(millis)));
}

void ManualClock::advance(std::chrono::nanoseconds amount) {
  if (amount.count() <= 0) return;
  std::lock_guard<std::mutex> lock(mu_);
  monotonic_ += amount;
  wallMillis_ += std::chrono::duration<double, std::milli>(amount).count();
}

}  // namespace loomset
