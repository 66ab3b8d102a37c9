#include <condition_variable>
#include <memory>
#include <mutex>

#include "Library/Util/platform/GuardedBlock.h"
#include "loomset/platform/EventLoop.h"

namespace loomset {

namespace {

class CompletionSignal {
 public:
  void notify() {
    std::lock_guard<std::mutex> lock(mu_);
    done_ = true;
    cv_.notify_all();
  }

  void wait() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return done_; });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;
};

// Held only by the posted block. A loop that is torn down drops its queued blocks unrun; the
// guard's destruction then still wakes the caller, which would otherwise wait forever.
struct SignalOnDestroy {
  explicit SignalOnDestroy(std::shared_ptr<CompletionSignal> s) : signal(std::move(s)) {}
  ~SignalOnDestroy() { signal->notify(); }
  std::shared_ptr<CompletionSignal> signal;
};

}  // namespace

void EventLoop::postAndWait(Block block) {
  if (!block) return;
  if (isCurrent()) {
    runBlockGuarded(name(), block);
    return;
  }
  auto signal = std::make_shared<CompletionSignal>();
  auto guard = std::make_shared<SignalOnDestroy>(signal);
  const std::string loopName = name();
  post([block = std::move(block), guard, loopName]() {
    runBlockGuarded(loopName, block);
    guard->signal->notify();
  });
  guard.reset();
  signal->wait();
}

}  // namespace loomset
