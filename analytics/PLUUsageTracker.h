// Records which public analytics operations an application called, as one process-wide sequence
// of letters that every sent hit carries (and clears) as "&_u".
//
// Threads: any thread; the sequence is guarded by one class-wide lock.
#pragma once

#include <string>
#include <string_view>

namespace loomset {

class PLUUsageTracker {
 public:
  // Appends the selector's letter; selectors without one record nothing.
  static void trackAction(std::string_view selector);
  static void trackTarget(const void* target, std::string_view selector) {
    (void)target;
    trackAction(selector);
  }
  // "." + the letters recorded since the last call, or "" when there were none; starts a new
  // sequence.
  static std::string getUsageSequence();
  // The letter of a selector, or '\0'.
  static char letterForSelector(std::string_view selector);
};

}  // namespace loomset
