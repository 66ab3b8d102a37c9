#include "tools/loomset/RealTimeWork.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <utility>

namespace loomset::tools {

// Runs work on another executor and counts what has not finished.
class RealTimeWork::CountingExecutor final : public Executor {
 public:
  explicit CountingExecutor(std::shared_ptr<Executor> wrapped) : wrapped_(std::move(wrapped)) {}

  void execute(std::function<void()> work) override {
    {
      std::lock_guard<std::mutex> lock(state_->mu);
      ++state_->pending;
    }
    wrapped_->execute([state = state_, work = std::move(work)] {
      // Counted down even when the work throws (the executor logs it).
      struct Done {
        State& state;
        ~Done() {
          std::lock_guard<std::mutex> lock(state.mu);
          --state.pending;
          state.changed.notify_all();
        }
      } done{*state};
      if (work) work();
    });
  }

  std::size_t pending() const {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->pending;
  }

  bool waitUntilNonePending(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(state_->mu);
    return state_->changed.wait_until(lock, deadline, [this] { return state_->pending == 0; });
  }

 private:
  struct State {
    std::mutex mu;
    std::condition_variable changed;
    std::size_t pending = 0;  // guarded by mu
  };
  const std::shared_ptr<Executor> wrapped_;
  // Shared with the work, which may outlive the executor.
  const std::shared_ptr<State> state_ = std::make_shared<State>();
};

RealTimeWork::RealTimeWork() = default;

void RealTimeWork::install(Platform& platform) {
  background_ = std::make_shared<CountingExecutor>(platform.background);
  platform.background = background_;
  http_ =
      std::make_shared<CountingHttpClient>(platform.http, CountingHttpClient::Delivery::kDirect);
  platform.http = http_;
  mainLoop_ = platform.mainLoop;
}

bool RealTimeWork::waitUntilStartedWorkEnded(std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // Work that ends may start more (a failed saved-copy load fetches at once, a fetch saves):
  // look again until a whole round finds nothing.
  for (;;) {
    if (!http_->waitUntilNoneInFlight(deadline)) return false;
    if (!background_->waitUntilNonePending(deadline)) return false;
    // What the work posted to the main loop runs before this.
    if (mainLoop_) mainLoop_->postAndWait([] {});
    if (http_->inFlight() == 0 && background_->pending() == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
}

}  // namespace loomset::tools
