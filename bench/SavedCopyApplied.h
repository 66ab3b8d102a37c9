// What the container benchmarks share: a container callback that signals when the saved copy
// has been applied (or could not be), so a benchmark can wait for it.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "loomset/MOXContainer.h"
#include "loomset/MOXContainerCallback.h"

namespace loomset::bench {

class SavedCopyApplied : public MOXContainerCallback {
 public:
  void containerRefreshBegin(const std::shared_ptr<MOXContainer>&,
                             MOXContainerCallbackRefreshType) override {}
  void containerRefreshSuccess(const std::shared_ptr<MOXContainer>&,
                               MOXContainerCallbackRefreshType type) override {
    if (type == kMOXContainerCallbackRefreshTypeSaved) finish();
  }
  void containerRefreshFailure(const std::shared_ptr<MOXContainer>&,
                               MOXContainerCallbackRefreshFailure,
                               MOXContainerCallbackRefreshType) override {
    finish();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mu_);
    done_.wait(lock, [this] { return finished_; });
  }

 private:
  void finish() {
    std::lock_guard<std::mutex> lock(mu_);
    finished_ = true;
    done_.notify_all();
  }
  std::mutex mu_;
  std::condition_variable done_;
  bool finished_ = false;
};

}  // namespace loomset::bench
