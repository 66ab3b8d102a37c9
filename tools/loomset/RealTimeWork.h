// The library on the system clock and its own threads, with a count of the work a run must see
// through before it ends: HTTP requests (a CountingHttpClient passing answers straight on) and
// background work (saved-copy loads and saves, data-layer store operations).
//
// Threads: `install` and `waitUntilStartedWorkEnded` belong to the run's thread; the counts are
// kept from any thread.
#pragma once

#include <chrono>
#include <memory>

#include "loomset/platform/Platform.h"
#include "tools/loomset/CountingHttpClient.h"

namespace loomset::tools {

class RealTimeWork {
 public:
  RealTimeWork();

  // Wraps the bundle's background executor and installs the counting HTTP client for the
  // process.
  void install(Platform& platform);
  // Waits until the requests and background work already started have ended and what they
  // posted to the main loop has run; false when that takes longer than `timeout`.
  bool waitUntilStartedWorkEnded(std::chrono::seconds timeout);

 private:
  class CountingExecutor;
  std::shared_ptr<CountingHttpClient> http_;
  std::shared_ptr<CountingExecutor> background_;
  std::shared_ptr<EventLoop> mainLoop_;
};

}  // namespace loomset::tools
