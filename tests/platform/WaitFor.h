// Waiting on real threads in tests: poll a condition with a generous deadline, so a slow or
// loaded machine delays a test but never fails it.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace loomset::testing {

inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::seconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace loomset::testing
