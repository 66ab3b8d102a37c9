// Keeps the first error logged on the current thread while it lives, so that a caller can tell
// why an operation it ran on this thread failed. The error is still logged as usual. While a
// capture is alive, `MOXLog::enabled(kMOXLogLevelError)` is true on its thread, so that error
// texts are built even when the logger would drop them.
//
// Captures nest: an inner one sees only the errors logged while it lives and hides them from the
// outer one. Threads: used on one thread; errors logged on other threads are not captured.
#pragma once

#include <optional>
#include <string>

namespace loomset {

class MOXLogErrorCapture {
 public:
  MOXLogErrorCapture();
  ~MOXLogErrorCapture();
  MOXLogErrorCapture(const MOXLogErrorCapture&) = delete;
  MOXLogErrorCapture& operator=(const MOXLogErrorCapture&) = delete;

  // The first error logged on this thread since the capture began (or was reset).
  const std::optional<std::string>& firstError() const { return firstError_; }
  void reset() { firstError_.reset(); }

  // Called by MOXLog for every error: kept by the capture of this thread, if any.
  static void noteError(const std::string& message);
  static bool active();

 private:
  MOXLogErrorCapture* const enclosing_;
  std::optional<std::string> firstError_;
};

}  // namespace loomset
