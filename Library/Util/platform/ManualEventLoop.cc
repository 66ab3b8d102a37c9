#include "Library/Util/platform/ManualEventLoop.h"

#include <condition_variable>

#include "Library/Util/platform/GuardedBlock.h"
#include "Library/Util/platform/TimerMath.h"
#include "loomset/MOXLog.h"

namespace loomset {

using TimePoint = std::chrono::steady_clock::time_point;

struct ManualEventLoop::Entry {
  std::atomic<bool> cancelled{false};
  bool isTimer = false;
  std::optional<std::chrono::nanoseconds> interval;  // set for repeating timers
  // Shared so a block that cancels its own timer stays alive while it runs; guarded by mu_.
  std::shared_ptr<const Block> block;
};

class ManualEventLoop::Handle final : public TimerHandle {
 public:
  Handle(std::weak_ptr<Entry> entry, ManualEventLoop* loop)
      : entry_(std::move(entry)), loop_(loop) {}
  ~Handle() override = default;

  void cancel() override {
    auto entry = entry_.lock();
    if (!entry || entry->cancelled.exchange(true)) return;
    // The queue may still hold the entry; drop its block now, as the real loop does, so that
    // whatever the block holds is released.
    std::lock_guard<std::mutex> lock(loop_->mu_);
    entry->block.reset();
  }

 private:
  // Weak, so that a handle outliving the loop finds nothing to cancel.
  const std::weak_ptr<Entry> entry_;
  ManualEventLoop* const loop_;
};

namespace {

class InertHandle final : public TimerHandle {
 public:
  void cancel() override {}
};

// Marks the calling thread as the loop's while it drives, restoring the previous driver for
// nested drives.
class DriverScope {
 public:
  explicit DriverScope(std::atomic<std::thread::id>& driver)
      : driver_(driver), previous_(driver.exchange(std::this_thread::get_id())) {}
  ~DriverScope() { driver_.store(previous_); }

 private:
  std::atomic<std::thread::id>& driver_;
  const std::thread::id previous_;
};

}  // namespace

ManualEventLoop::ManualEventLoop(std::shared_ptr<ManualClock> clock, std::string name)
    : clock_(clock ? std::move(clock) : std::make_shared<ManualClock>()), name_(std::move(name)) {}

ManualEventLoop::~ManualEventLoop() = default;

void ManualEventLoop::enqueue(TimePoint due, std::shared_ptr<Entry> entry) {
  std::lock_guard<std::mutex> lock(mu_);
  queue_.emplace(Key{due, nextSequence_++}, std::move(entry));
}

void ManualEventLoop::post(Block block) {
  if (!block) return;
  auto entry = std::make_shared<Entry>();
  entry->block = std::make_shared<const Block>(std::move(block));
  enqueue(clock_->monotonicNow(), std::move(entry));
}

std::shared_ptr<TimerHandle> ManualEventLoop::addTimer(
    std::chrono::nanoseconds delay, std::optional<std::chrono::nanoseconds> interval, Block block) {
  auto entry = std::make_shared<Entry>();
  entry->isTimer = true;
  entry->interval = interval;
  entry->block = std::make_shared<const Block>(std::move(block));
  auto handle = std::make_shared<Handle>(entry, this);
  enqueue(clock_->monotonicNow() + delay, std::move(entry));
  return handle;
}

std::shared_ptr<TimerHandle> ManualEventLoop::postAfter(double delaySeconds, Block block) {
  if (!block) return std::make_shared<InertHandle>();
  return addTimer(timermath::delayFromSeconds(delaySeconds), std::nullopt, std::move(block));
}

std::shared_ptr<TimerHandle> ManualEventLoop::postRepeating(double intervalSeconds, Block block) {
  const auto interval = timermath::intervalFromSeconds(intervalSeconds);
  if (!interval) {
    MOXLog::error("Refusing a repeating timer on " + name_ +
                  " with an interval that is not positive: " + std::to_string(intervalSeconds));
    return std::make_shared<InertHandle>();
  }
  if (!block) return std::make_shared<InertHandle>();
  return addTimer(*interval, interval, std::move(block));
}

bool ManualEventLoop::isCurrent() const {
  return driver_.load() == std::this_thread::get_id();
}

bool ManualEventLoop::runOne(TimePoint limit) {
  std::shared_ptr<Entry> entry;
  std::shared_ptr<const Block> block;
  TimePoint due;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (;;) {
      if (queue_.empty() || queue_.begin()->first.first > limit) return false;
      due = queue_.begin()->first.first;
      entry = std::move(queue_.begin()->second);
      queue_.erase(queue_.begin());
      if (!entry->cancelled.load() && entry->block) break;
    }
    block = entry->block;
    // One-shot entries let go of their block once it has run.
    if (!entry->interval) entry->block.reset();
  }
  runBlockGuarded(name_, *block);
  if (entry->interval && !entry->cancelled.load()) {
    const TimePoint next = timermath::nextDeadline(due, *entry->interval, clock_->monotonicNow());
    enqueue(next, std::move(entry));
  } else if (entry->isTimer) {
    entry->cancelled.store(true);
  }
  return true;
}

std::size_t ManualEventLoop::drainDue() {
  std::size_t count = 0;
  while (runOne(clock_->monotonicNow())) ++count;
  return count;
}

std::size_t ManualEventLoop::runUntilIdle() {
  std::lock_guard<std::recursive_mutex> drive(driveMu_);
  DriverScope scope(driver_);
  return drainDue();
}

std::size_t ManualEventLoop::advanceAndRun(double seconds) {
  std::lock_guard<std::recursive_mutex> drive(driveMu_);
  DriverScope scope(driver_);
  std::size_t count = drainDue();
  const TimePoint target = clock_->monotonicNow() + timermath::delayFromSeconds(seconds);
  for (;;) {
    TimePoint due;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (queue_.empty() || queue_.begin()->first.first > target) break;
      due = queue_.begin()->first.first;
    }
    const TimePoint now = clock_->monotonicNow();
    if (due > now) clock_->advance(due - now);
    count += drainDue();
  }
  const TimePoint now = clock_->monotonicNow();
  if (target > now) clock_->advance(target - now);
  return count + drainDue();
}

void ManualEventLoop::postAndWait(Block block) {
  if (!block) return;
  if (isCurrent()) {
    runBlockGuarded(name_, block);
    return;
  }
  struct Done {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
  };
  auto done = std::make_shared<Done>();
  post([block = std::move(block), done, loopName = name_] {
    runBlockGuarded(loopName, block);
    std::lock_guard<std::mutex> lock(done->mu);
    done->done = true;
    done->cv.notify_all();
  });
  auto finished = [&done] {
    std::lock_guard<std::mutex> lock(done->mu);
    return done->done;
  };
  while (!finished()) {
    // Nobody is driving: drive it here, in order, up to and including our block.
    std::unique_lock<std::recursive_mutex> drive(driveMu_, std::try_to_lock);
    if (drive.owns_lock()) {
      DriverScope scope(driver_);
      while (!finished() && runOne(clock_->monotonicNow())) {
      }
      continue;
    }
    // Another thread drives the loop and will reach the block; look again shortly in case it
    // stopped just before.
    std::unique_lock<std::mutex> lock(done->mu);
    done->cv.wait_for(lock, std::chrono::milliseconds(5), [&done] { return done->done; });
  }
}

std::size_t ManualEventLoop::pendingBlocks() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::size_t count = 0;
  for (const auto& [key, entry] : queue_) {
    if (!entry->isTimer && !entry->cancelled.load()) ++count;
  }
  return count;
}

std::size_t ManualEventLoop::pendingTimers() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::size_t count = 0;
  for (const auto& [key, entry] : queue_) {
    if (entry->isTimer && !entry->cancelled.load()) ++count;
  }
  return count;
}

std::optional<double> ManualEventLoop::secondsUntilNextTimer() const {
  const TimePoint now = clock_->monotonicNow();
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& [key, entry] : queue_) {
    if (!entry->isTimer || entry->cancelled.load()) continue;
    return std::chrono::duration<double>(key.first - now).count();
  }
  return std::nullopt;
}

std::optional<TimePoint> ManualEventLoop::nextDue() const {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& [key, entry] : queue_) {
    if (entry->cancelled.load() || !entry->block) continue;
    return key.first;
  }
  return std::nullopt;
}

}  // namespace loomset
