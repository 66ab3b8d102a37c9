#include <pthread.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_set>

#include "Library/Util/platform/GuardedBlock.h"
#include "Library/Util/platform/TimerMath.h"
#include "loomset/MOXLog.h"
#include "loomset/platform/EventLoop.h"

namespace loomset {

namespace {

// One timer's state. `cancelled` is read and written from any thread; everything else belongs to
// the loop thread.
struct TimerState {
  std::atomic<bool> cancelled{false};
  std::optional<asio::steady_timer> timer;
  EventLoop::Block block;
  std::chrono::nanoseconds interval{0};
  bool repeating = false;
};

class InertTimerHandle final : public TimerHandle {
 public:
  void cancel() override {}
};

}  // namespace

class AsioEventLoop::Impl : public std::enable_shared_from_this<AsioEventLoop::Impl> {
 public:
  // Outlives the loop safely: it reaches the loop only through a weak reference.
  class Handle final : public TimerHandle {
   public:
    Handle(std::weak_ptr<Impl> loop, std::shared_ptr<TimerState> state)
        : loop_(std::move(loop)), state_(std::move(state)) {}

    void cancel() override {
      // The flag alone stops any further fire; the post releases the timer and its block.
      if (state_->cancelled.exchange(true)) return;
      if (auto loop = loop_.lock()) {
        auto state = state_;
        Impl* impl = loop.get();
        asio::post(impl->io_, [impl, state] { impl->retire(state); });
      }
    }

   private:
    const std::weak_ptr<Impl> loop_;
    const std::shared_ptr<TimerState> state_;
  };

  explicit Impl(std::string name) : name_(std::move(name)), work_(asio::make_work_guard(io_)) {}

  ~Impl() {
    // The owner joins or detaches the thread before letting go; this only covers a failed start.
    if (thread_.joinable()) thread_.detach();
  }

  void start() {
    thread_ = std::thread([self = shared_from_this()] { self->threadMain(); });
    threadId_.store(thread_.get_id());
  }

  const std::string& name() const { return name_; }
  bool isCurrent() const { return std::this_thread::get_id() == threadId_.load(); }

  void post(Block block) {
    if (!block) return;
    asio::post(io_, [this, block = std::move(block)] { runBlockGuarded(name_, block); });
  }

  std::shared_ptr<TimerHandle> schedule(std::chrono::nanoseconds delay,
                                        std::chrono::nanoseconds interval, bool repeating,
                                        Block block);

  // Called by the owner's destructor.
  void shutdown() {
    if (isCurrent()) {
      stopTimers();
      work_.reset();
      // Joining ourselves would deadlock; the thread drains what is queued and ends on its own,
      // holding the last reference to this object.
      thread_.detach();
      return;
    }
    asio::post(io_, [this] { stopTimers(); });
    work_.reset();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void threadMain() {
    threadId_.store(std::this_thread::get_id());
    // Linux thread names are limited to 15 characters.
    pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
    for (;;) {
      try {
        io_.run();
        return;
      } catch (const std::exception& e) {
        MOXLog::error("Caught exception: " + std::string(e.what()) + " (in loop " + name_ + ")");
      }
    }
  }

  void arm(const std::shared_ptr<TimerState>& state,
           std::chrono::steady_clock::time_point deadline) {
    if (stopping_ || state->cancelled.load()) {
      state->block = nullptr;
      return;
    }
    if (!state->timer) {
      state->timer.emplace(io_);
      timers_.insert(state);
    }
    state->timer->expires_at(deadline);
    state->timer->async_wait([this, state](const std::error_code& ec) { fire(state, ec); });
  }

  void fire(const std::shared_ptr<TimerState>& state, const std::error_code& ec) {
    if (ec || state->cancelled.load() || !state->timer) {
      retire(state);
      return;
    }
    const auto due = state->timer->expiry();
    // The block may cancel its own timer; keep it alive for the duration of the call.
    const Block block = state->block;
    runBlockGuarded(name_, block);
    if (!state->repeating || state->cancelled.load() || stopping_) {
      retire(state);
      return;
    }
    arm(state, timermath::nextDeadline(due, state->interval, std::chrono::steady_clock::now()));
  }

  // Releases the timer and its block (the block often holds its owner). Idempotent.
  void retire(const std::shared_ptr<TimerState>& state) {
    state->cancelled.store(true);
    state->block = nullptr;
    if (state->timer) {
      state->timer.reset();
      timers_.erase(state);
    }
  }

  void stopTimers() {
    stopping_ = true;
    auto timers = std::move(timers_);
    timers_.clear();
    for (const auto& state : timers) retire(state);
  }

  const std::string name_;
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::thread thread_;
  std::atomic<std::thread::id> threadId_{};

  // Loop thread only.
  bool stopping_ = false;
  std::unordered_set<std::shared_ptr<TimerState>> timers_;
};

std::shared_ptr<TimerHandle> AsioEventLoop::Impl::schedule(std::chrono::nanoseconds delay,
                                                           std::chrono::nanoseconds interval,
                                                           bool repeating, Block block) {
  auto state = std::make_shared<TimerState>();
  state->block = std::move(block);
  state->interval = interval;
  state->repeating = repeating;
  // The deadline counts from now, not from when the loop gets round to arming the timer.
  const auto deadline = std::chrono::steady_clock::now() + delay;
  asio::post(io_, [this, state, deadline] { arm(state, deadline); });
  return std::make_shared<Handle>(weak_from_this(), state);
}

AsioEventLoop::AsioEventLoop(std::string threadName)
    : impl_(std::make_shared<Impl>(threadName.empty() ? "loomset-loop" : std::move(threadName))) {
  impl_->start();
}

AsioEventLoop::~AsioEventLoop() {
  impl_->shutdown();
}

void AsioEventLoop::post(Block block) {
  impl_->post(std::move(block));
}

std::shared_ptr<TimerHandle> AsioEventLoop::postAfter(double delaySeconds, Block block) {
  if (!block) return std::make_shared<InertTimerHandle>();
  return impl_->schedule(timermath::delayFromSeconds(delaySeconds), std::chrono::nanoseconds(0),
                         false, std::move(block));
}

std::shared_ptr<TimerHandle> AsioEventLoop::postRepeating(double intervalSeconds, Block block) {
  const auto interval = timermath::intervalFromSeconds(intervalSeconds);
  if (!interval) {
    MOXLog::error("Refusing a repeating timer on " + impl_->name() +
                  " with an interval that is not positive: " + std::to_string(intervalSeconds));
    return std::make_shared<InertTimerHandle>();
  }
  if (!block) return std::make_shared<InertTimerHandle>();
  return impl_->schedule(*interval, *interval, true, std::move(block));
}

bool AsioEventLoop::isCurrent() const {
  return impl_->isCurrent();
}

const std::string& AsioEventLoop::name() const {
  return impl_->name();
}

}  // namespace loomset
