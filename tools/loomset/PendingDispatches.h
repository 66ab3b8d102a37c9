// Counts the dispatches a run started whose completion has not arrived yet, so that the run can
// wait for them before it ends.
//
// Threads: any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace loomset::tools {

class PendingDispatches {
 public:
  void started() {
    std::lock_guard<std::mutex> lock(mu_);
    ++pending_;
  }
  void finished() {
    std::lock_guard<std::mutex> lock(mu_);
    --pending_;
    changed_.notify_all();
  }
  // False when some are still pending after `timeout`.
  bool waitForAll(std::chrono::seconds timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    return changed_.wait_for(lock, timeout, [this] { return pending_ == 0; });
  }

 private:
  std::mutex mu_;
  std::condition_variable changed_;
  int pending_ = 0;  // guarded by mu_
};

}  // namespace loomset::tools
