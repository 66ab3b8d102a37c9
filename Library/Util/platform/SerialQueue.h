// A serial queue over an executor (a strand): blocks run in the order posted, one at a time,
// without a thread of its own. While the queue has work it occupies one of the executor's
// threads; after a bounded run of blocks it hands the thread back and continues with a new task,
// so a long burst never starves the executor's other work.
//
// Threads: `post`, `hasPendingWork` and `isCurrent` are safe from any thread. Blocks may run on
// any of the executor's threads, but never two at once. A block that throws is logged and dropped.
// The queue (and its queued blocks) stays alive until its last block has run, even when its owner
// drops it; blocks an executor drops without running them are lost.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "loomset/platform/EventLoop.h"

namespace loomset {

class SerialQueue {
 public:
  using Block = std::function<void()>;

  // `name` appears in the log line of a block that throws.
  SerialQueue(std::shared_ptr<Executor> executor, std::string name);
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  void post(Block block);
  // True when blocks are waiting behind the one running now (or, from outside, waiting at all).
  // A block uses it to tell whether more work is on its way.
  bool hasPendingWork() const;
  // True inside a block of this queue.
  bool isCurrent() const;

 private:
  class State;
  const std::shared_ptr<State> state_;
};

}  // namespace loomset
