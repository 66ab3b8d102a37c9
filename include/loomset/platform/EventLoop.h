// Serial event loops: the library's worker threads (MOXThread, PLUThread) and its "main" loop,
// where result blocks and timer callbacks of the container half are delivered.
//
// Blocks posted to one loop run in the order posted, one at a time, on the loop's thread only.
// Timers fire on the loop's thread. A block that throws is logged and dropped; the loop goes on.
// Every operation of a loop, an executor and a timer handle is safe from any thread. A loop owns
// its queued blocks and timers; the caller owns the returned handles, which may outlive the loop.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "loomset/Export.h"

namespace loomset {

// Cancels a pending one-shot or repeating timer. Safe from any thread, at any moment, more than
// once; a timer cancelled from its own loop never fires again after `cancel` returns.
class LOOMSET_EXPORT TimerHandle {
 public:
  virtual ~TimerHandle() = default;
  virtual void cancel() = 0;
};

class LOOMSET_EXPORT EventLoop {
 public:
  using Block = std::function<void()>;
  virtual ~EventLoop() = default;

  virtual void post(Block block) = 0;
  // Runs the block once, `delaySeconds` from now (a negative or NaN delay counts as 0).
  virtual std::shared_ptr<TimerHandle> postAfter(double delaySeconds, Block block) = 0;
  // Runs the block every `intervalSeconds`, the first time one interval from now. An interval
  // that is not positive is logged as an error and nothing is scheduled; fires missed while the
  // loop was busy are skipped rather than run in a burst.
  virtual std::shared_ptr<TimerHandle> postRepeating(double intervalSeconds, Block block) = 0;
  // True on the loop's own thread.
  virtual bool isCurrent() const = 0;
  virtual const std::string& name() const = 0;

  // Runs the block on the loop and waits for it; runs it inline when called on the loop. A block
  // that throws is logged, as on `post`. If the loop drops the block without running it (it is
  // being destroyed), the call returns without having run it rather than waiting forever.
  virtual void postAndWait(Block block);
};

// An EventLoop on its own named thread, over standalone Asio. The destructor cancels pending
// timers, runs the blocks already posted, and joins the thread; dropped on the loop's own thread,
// it lets the thread finish that work and end on its own instead.
class LOOMSET_EXPORT AsioEventLoop final : public EventLoop {
 public:
  explicit AsioEventLoop(std::string threadName);
  ~AsioEventLoop() override;

  void post(Block block) override;
  std::shared_ptr<TimerHandle> postAfter(double delaySeconds, Block block) override;
  std::shared_ptr<TimerHandle> postRepeating(double intervalSeconds, Block block) override;
  bool isCurrent() const override;
  const std::string& name() const override;

 private:
  class Impl;
  std::shared_ptr<Impl> impl_;
};

// A pool of threads for blocking background work (reads, writes, parsing).
class LOOMSET_EXPORT Executor {
 public:
  virtual ~Executor() = default;
  virtual void execute(std::function<void()> work) = 0;
};

// Work that throws is logged and dropped.
class LOOMSET_EXPORT ThreadPoolExecutor final : public Executor {
 public:
  explicit ThreadPoolExecutor(unsigned threads = 2);
  // Waits for queued work (unless called from one of the pool's own threads, which cannot wait
  // for themselves: then the pool finishes its work and is released in the background).
  ~ThreadPoolExecutor() override;
  void execute(std::function<void()> work) override;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace loomset
