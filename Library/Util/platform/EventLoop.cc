#include <memory>

#include "Library/Util/platform/GuardedBlock.h"
#include "Library/Util/platform/Mutex.h"
#include "loomset/platform/EventLoop.h"

namespace loomset {

namespace {

class CompletionSignal {
 public:
  void notify() EXCLUDES(mu_) {
    MutexLock lock(mu_);
    done_ = true;
    cv_.notifyAll();
  }

  void wait() EXCLUDES(mu_) {
    MutexLock lock(mu_);
    while (!done_) cv_.wait(mu_);
  }

 private:
  Mutex mu_;
  CondVar cv_;
  bool done_ GUARDED_BY(mu_) = false;
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
