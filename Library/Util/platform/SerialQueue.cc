#include "Library/Util/platform/SerialQueue.h"

#include <deque>
#include <utility>

#include "Library/Util/platform/GuardedBlock.h"
#include "Library/Util/platform/Mutex.h"

namespace loomset {

namespace {

// Blocks run in one executor task before the queue hands the thread back.
constexpr int kBlocksPerTask = 64;

}  // namespace

class SerialQueue::State : public std::enable_shared_from_this<State> {
 public:
  State(std::shared_ptr<Executor> executor, std::string name)
      : executor_(std::move(executor)), name_(std::move(name)) {}

  void post(Block block) {
    {
      MutexLock lock(mu_);
      blocks_.push_back(std::move(block));
      if (scheduled_) return;
      scheduled_ = true;
    }
    schedule();
  }

  bool hasPendingWork() const {
    MutexLock lock(mu_);
    return !blocks_.empty();
  }

  bool isCurrent() const { return current == this; }

 private:
  void schedule() {
    executor_->execute([self = shared_from_this()] { self->runSome(); });
  }

  void runSome() {
    const State* previous = current;
    current = this;
    for (int i = 0; i < kBlocksPerTask; ++i) {
      Block block;
      {
        MutexLock lock(mu_);
        if (blocks_.empty()) {
          scheduled_ = false;
          current = previous;
          return;
        }
        block = std::move(blocks_.front());
        blocks_.pop_front();
      }
      runBlockGuarded(name_, block);
    }
    current = previous;
    bool more = false;
    {
      MutexLock lock(mu_);
      more = !blocks_.empty();
      scheduled_ = more;
    }
    if (more) schedule();
  }

  static thread_local const State* current;

  const std::shared_ptr<Executor> executor_;
  const std::string name_;
  mutable Mutex mu_;
  std::deque<Block> blocks_ GUARDED_BY(mu_);
  bool scheduled_ GUARDED_BY(mu_) = false;  // a task of ours is queued or running
};

thread_local const SerialQueue::State* SerialQueue::State::current = nullptr;

SerialQueue::SerialQueue(std::shared_ptr<Executor> executor, std::string name)
    : state_(std::make_shared<State>(std::move(executor), std::move(name))) {}

void SerialQueue::post(Block block) {
  if (block) state_->post(std::move(block));
}

bool SerialQueue::hasPendingWork() const {
  return state_->hasPendingWork();
}

bool SerialQueue::isCurrent() const {
  return state_->isCurrent();
}

}  // namespace loomset
