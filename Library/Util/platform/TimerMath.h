// Delay arithmetic shared by the event loops, so the real loop and the test loop agree on what a
// delay of NaN, a negative delay or a repeating interval means.
#pragma once

#include <chrono>
#include <cmath>
#include <optional>

namespace loomset::timermath {

// Longer than any process lives; larger delays (infinity included) are clamped to it so the
// chrono arithmetic cannot overflow.
inline constexpr double kMaxDelaySeconds = 1.0e9;

// A one-shot delay: negative and NaN mean "now".
inline std::chrono::nanoseconds delayFromSeconds(double seconds) {
  if (!(seconds > 0)) return std::chrono::nanoseconds(0);
  if (seconds > kMaxDelaySeconds) seconds = kMaxDelaySeconds;
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double>(seconds));
}

// A repeating interval, or nothing when it is not a usable one (zero would spin the loop).
inline std::optional<std::chrono::nanoseconds> intervalFromSeconds(double seconds) {
  if (!(seconds > 0)) return std::nullopt;
  auto interval = delayFromSeconds(seconds);
  if (interval.count() <= 0) interval = std::chrono::nanoseconds(1);
  return interval;
}

// The next deadline of a repeating timer that was due at `due`: one interval later, skipping the
// fires that were missed while the loop was busy, so a stalled loop does not burst afterwards.
template <typename TimePoint>
TimePoint nextDeadline(TimePoint due, std::chrono::nanoseconds interval, TimePoint now) {
  TimePoint next = due + interval;
  if (next <= now) {
    const auto behind = std::chrono::duration_cast<std::chrono::nanoseconds>(now - due);
    next = due + interval * (behind / interval + 1);
  }
  return next;
}

}  // namespace loomset::timermath
