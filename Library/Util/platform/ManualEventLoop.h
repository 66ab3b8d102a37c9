// An EventLoop that runs nothing until its owner drives it, with timers on a ManualClock, so that
// timers, deadlines and periodic work fire deterministically and without sleeping (tests, and
// tools that replay a scenario on simulated time).
//
// Blocks posted from any thread are queued. `runUntilIdle()` runs, on the calling thread, the
// queued blocks and the timers due by the clock's current time, in time order (posted blocks are
// due when posted; ties go in posting order), including what those blocks post, until nothing due
// is left. `advanceAndRun(seconds)` moves the clock forward, stopping at each timer's due time to
// fire it (so the clock reads the due time inside the block, and repeating timers fire once per
// interval passed), then runs until idle. Blocks that throw are logged like on the real loop.
//
// `isCurrent()` is true on the thread that is driving the loop while it drives. `postAndWait`
// from outside runs the loop itself when nobody else drives it, so code that waits on its worker
// loop does not hang a single-threaded driver. Blocks still queued at destruction are dropped.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "Library/Util/platform/ManualClock.h"
#include "loomset/platform/EventLoop.h"

namespace loomset {

class LOOMSET_EXPORT ManualEventLoop final : public EventLoop {
 public:
  explicit ManualEventLoop(std::shared_ptr<ManualClock> clock, std::string name = "manual-loop");
  ~ManualEventLoop() override;

  void post(Block block) override;
  std::shared_ptr<TimerHandle> postAfter(double delaySeconds, Block block) override;
  std::shared_ptr<TimerHandle> postRepeating(double intervalSeconds, Block block) override;
  bool isCurrent() const override;
  const std::string& name() const override { return name_; }
  void postAndWait(Block block) override;

  // Both return how many blocks and timer fires ran.
  std::size_t runUntilIdle();
  std::size_t advanceAndRun(double seconds);

  // Posted blocks not yet run.
  std::size_t pendingBlocks() const;
  // Timers neither fired (one-shot) nor cancelled.
  std::size_t pendingTimers() const;
  // Seconds from the clock's now to the earliest pending timer; nothing when none is pending.
  std::optional<double> secondsUntilNextTimer() const;
  // When the earliest queued block or pending timer is due (a posted block is due when posted);
  // nothing when the queue is empty. Due at or before the clock's now means `runUntilIdle` would
  // run something.
  std::optional<std::chrono::steady_clock::time_point> nextDue() const;

  ManualClock& clock() const { return *clock_; }

 private:
  struct Entry;
  class Handle;
  using Key = std::pair<std::chrono::steady_clock::time_point, std::uint64_t>;

  void enqueue(std::chrono::steady_clock::time_point due, std::shared_ptr<Entry> entry);
  std::shared_ptr<TimerHandle> addTimer(std::chrono::nanoseconds delay,
                                        std::optional<std::chrono::nanoseconds> interval,
                                        Block block);
  // Runs the earliest item due by `limit`; false when there is none.
  bool runOne(std::chrono::steady_clock::time_point limit);
  std::size_t drainDue();

  const std::shared_ptr<ManualClock> clock_;
  const std::string name_;

  mutable std::mutex mu_;
  std::map<Key, std::shared_ptr<Entry>> queue_;  // guarded by mu_
  std::uint64_t nextSequence_ = 0;               // guarded by mu_

  // Held by whichever thread drives the loop.
  std::recursive_mutex driveMu_;
  std::atomic<std::thread::id> driver_{};
};

}  // namespace loomset
