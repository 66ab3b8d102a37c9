// The stores that save what they hold when the application leaves the foreground or terminates.
// Each store of the container half registers a saver while it lives; the library's
// resign-active / terminate entry points (`PLU::applicationWillResignActive` and the others) run
// every saver, each of which returns once its store has saved. So one call saves the pixel hit
// store, the analytics hit stores and the data-layer store alike.
//
// Threads: any thread. Savers run on the calling thread, outside the registry's lock, in the order
// they were added; a saver must not wait on the calling thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace loomset {

class ExitSavers {
 public:
  using Saver = std::function<void()>;
  // A saver that waits for other threads gives up at the deadline (on the steady clock): what it
  // queued is then saved later, without the caller.
  using Deadline = std::chrono::steady_clock::time_point;
  using BoundedSaver = std::function<void(Deadline deadline)>;
  // Answers the token that removes the saver again.
  static std::uint64_t add(Saver saver);
  static std::uint64_t addBounded(BoundedSaver saver);
  static void remove(std::uint64_t token);
  static void saveAll();
  // The same, for a caller that must not be held past the deadline (a bounded flush).
  static void saveAllBefore(Deadline deadline);
};

}  // namespace loomset
