// The stores that save what they hold when the application leaves the foreground or terminates.
// Each store of the container half registers a saver while it lives; the library's
// resign-active / terminate entry points (`PLU::applicationWillResignActive` and the others) run
// every saver, each of which returns once its store has saved. So one call saves the pixel hit
// store, the analytics hit stores and the data-layer store alike.
//
// Threads: any thread. Savers run on the calling thread, outside the registry's lock, in the order
// they were added; a saver must not wait on the calling thread.
#pragma once

#include <cstdint>
#include <functional>

namespace loomset {

class ExitSavers {
 public:
  using Saver = std::function<void()>;
  // Answers the token that removes the saver again.
  static std::uint64_t add(Saver saver);
  static void remove(std::uint64_t token);
  static void saveAll();
};

}  // namespace loomset
