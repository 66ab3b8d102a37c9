// The library on simulated time, driven from one thread: a clock that stands still until the run
// moves it, the main loop, the background executor and the worker loops of both halves (the
// container half's "MOXThread", where the pixel dispatcher and its store run, and the analytics
// half's) as manual loops run by `settle`, randomness from a fixed seed, every host reachable, and
// HTTP answers held until the library is otherwise idle (CountingHttpClient). With the same steps,
// servers and files, every run does the same things in the same order.
//
// Idle means: no block ready on any loop, no timer due at or before the simulated now, and no
// request in flight. Saved-copy loads and saves and data-layer store operations run as blocks on
// the background loop, and what they report is posted to the main loop, so they are covered.
//
// Threads: `install`, `settle` and `advance` belong to the run's thread. HTTP answers arrive on
// the client's thread and wait there until `settle` lets them in.
#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include "Library/Util/platform/ManualClock.h"
#include "Library/Util/platform/ManualEventLoop.h"
#include "loomset/platform/Platform.h"
#include "tools/loomset/CountingHttpClient.h"

namespace loomset::tools {

class SimulatedTime {
 public:
  explicit SimulatedTime(double startMillis);

  // Puts the clock, the main loop, the background executor, the random source, both worker loops
  // and the HTTP client into the bundle.
  void install(Platform& platform) const;
  // Runs everything that is ready, and lets HTTP answers in, until the library is idle.
  void settle();
  // Moves the clock `millis` forward, stopping at each timer that falls due on the way (in time
  // order, the clock reading its due time) and settling there; settles at the end.
  void advance(double millis);

 private:
  // Runs what is ready on every loop; true when anything ran.
  bool runReady();
  std::optional<std::chrono::steady_clock::time_point> nextDue() const;

  const std::shared_ptr<ManualClock> clock_;
  const std::shared_ptr<ManualEventLoop> mainLoop_;
  const std::shared_ptr<ManualEventLoop> backgroundLoop_;
  const std::shared_ptr<ManualEventLoop> workerLoop_;
  const std::shared_ptr<ManualEventLoop> analyticsLoop_;
  const std::shared_ptr<CountingHttpClient> http_;
};

}  // namespace loomset::tools
