#include "tools/loomset/SimulatedTime.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>

#include "Library/Util/platform/TimerMath.h"
#include "loomset/platform/ReachabilityWatcher.h"

namespace loomset::tools {
namespace {

// Runs work by posting it to a loop.
class LoopExecutor final : public Executor {
 public:
  explicit LoopExecutor(std::shared_ptr<EventLoop> loop) : loop_(std::move(loop)) {}
  void execute(std::function<void()> work) override { loop_->post(std::move(work)); }

 private:
  const std::shared_ptr<EventLoop> loop_;
};

// The same draws in every run, so that random macros and experiments answer alike each time.
class SeededRandomSource final : public RandomSource {
 public:
  std::uint32_t uniform(std::uint32_t bound) override {
    if (bound == 0) return 0;
    std::lock_guard<std::mutex> lock(mu_);
    return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(engine_);
  }
  double unit() override {
    std::lock_guard<std::mutex> lock(mu_);
    return std::uniform_real_distribution<double>(0.0, 1.0)(engine_);
  }
  std::string uuid() override {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    std::lock_guard<std::mutex> lock(mu_);
    for (int i = 0; i < 32; ++i) {
      unsigned digit = static_cast<unsigned>(engine_() & 0xF);
      if (i == 12) digit = 4;                  // version 4
      if (i == 16) digit = 8 | (digit & 0x3);  // variant 10xx
      if (i == 8 || i == 12 || i == 16 || i == 20) text += '-';
      text += kHex[digit];
    }
    return text;
  }

 private:
  std::mutex mu_;
  std::mt19937_64 engine_{20011};
};

// Every host reachable, from the start and for good: a run talks to servers on this machine, and
// the answer must not depend on the machine's routes or name service.
class AlwaysReachable final : public MOXReachabilityWatcher {
 public:
  explicit AlwaysReachable(std::shared_ptr<EventLoop> loop) : loop_(std::move(loop)) {}
  bool start(FlagsCallback callback) override {
    loop_->post([callback = std::move(callback), stopped = stopped_] {
      if (callback && !stopped->load()) {
        callback(kMOXReachabilityFlagReachable | kMOXReachabilityFlagIsDirect);
      }
    });
    return true;
  }
  void stop() override { stopped_->store(true); }

 private:
  const std::shared_ptr<EventLoop> loop_;
  const std::shared_ptr<std::atomic<bool>> stopped_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace

SimulatedTime::SimulatedTime(double startMillis)
    : clock_(std::make_shared<ManualClock>(startMillis)),
      mainLoop_(std::make_shared<ManualEventLoop>(clock_, "loomset-main")),
      backgroundLoop_(std::make_shared<ManualEventLoop>(clock_, "loomset-background")),
      workerLoop_(std::make_shared<ManualEventLoop>(clock_, "MOXThread")),
      analyticsLoop_(std::make_shared<ManualEventLoop>(clock_, "PLUThread")),
      http_(std::make_shared<CountingHttpClient>(Platform::current()->http,
                                                 CountingHttpClient::Delivery::kHeld)) {}

void SimulatedTime::install(Platform& platform) const {
  platform.clock = clock_;
  platform.random = std::make_shared<SeededRandomSource>();
  platform.mainLoop = mainLoop_;
  platform.background = std::make_shared<LoopExecutor>(backgroundLoop_);
  platform.containerWorker = workerLoop_;
  platform.analyticsWorker = analyticsLoop_;
  platform.http = http_;
  platform.reachability = [](const std::string&, std::shared_ptr<EventLoop> deliveryLoop) {
    return std::make_unique<AlwaysReachable>(std::move(deliveryLoop));
  };
}

bool SimulatedTime::runReady() {
  std::size_t ran = 0;
  for (const auto& loop : {mainLoop_, backgroundLoop_, workerLoop_, analyticsLoop_})
    ran += loop->runUntilIdle();
  return ran > 0;
}

void SimulatedTime::settle() {
  for (;;) {
    if (runReady()) continue;
    // Nothing else can happen until the network answers.
    if (http_->releaseWhenAllAnswered() > 0) continue;
    return;
  }
}

std::optional<std::chrono::steady_clock::time_point> SimulatedTime::nextDue() const {
  std::optional<std::chrono::steady_clock::time_point> earliest;
  for (const auto& loop : {mainLoop_, backgroundLoop_, workerLoop_, analyticsLoop_}) {
    const auto due = loop->nextDue();
    if (due && (!earliest || *due < *earliest)) earliest = due;
  }
  return earliest;
}

void SimulatedTime::advance(double millis) {
  settle();
  // Whole nanoseconds from the milliseconds themselves: going through seconds would land a
  // hair short of a timer due exactly at the target.
  const double capped = std::min(millis, timermath::kMaxDelaySeconds * 1000.0);
  const auto target =
      clock_->monotonicNow() + std::chrono::nanoseconds(std::llround(std::max(capped, 0.0) * 1e6));
  for (;;) {
    const auto due = nextDue();
    if (!due || *due > target) break;
    const auto now = clock_->monotonicNow();
    if (*due > now) clock_->advance(*due - now);
    settle();
  }
  const auto now = clock_->monotonicNow();
  if (target > now) clock_->advance(target - now);
  settle();
}

}  // namespace loomset::tools
