#include "Library/Util/platform/DefaultServices.h"

#include <atomic>
#include <mutex>

#include "Library/Util/platform/NoDestructor.h"

namespace loomset {

namespace {

constexpr const char* kMainLoopName = "loomset-main";

// Starts its thread the first time work arrives.
class LazyMainLoop final : public EventLoop {
 public:
  void post(Block block) override { loop().post(std::move(block)); }
  std::shared_ptr<TimerHandle> postAfter(double delaySeconds, Block block) override {
    return loop().postAfter(delaySeconds, std::move(block));
  }
  std::shared_ptr<TimerHandle> postRepeating(double intervalSeconds, Block block) override {
    return loop().postRepeating(intervalSeconds, std::move(block));
  }
  bool isCurrent() const override {
    // No thread yet means nobody can be on it.
    return started_.load(std::memory_order_acquire) && loop_->isCurrent();
  }
  const std::string& name() const override { return name_; }

 private:
  AsioEventLoop& loop() {
    std::call_once(once_, [this] {
      loop_ = std::make_unique<AsioEventLoop>(name_);
      started_.store(true, std::memory_order_release);
    });
    return *loop_;
  }

  const std::string name_ = kMainLoopName;
  std::once_flag once_;
  std::unique_ptr<AsioEventLoop> loop_;
  std::atomic<bool> started_{false};
};

class LazyExecutor final : public Executor {
 public:
  void execute(std::function<void()> work) override {
    std::call_once(once_, [this] { pool_ = std::make_unique<ThreadPoolExecutor>(2); });
    pool_->execute(std::move(work));
  }

 private:
  std::once_flag once_;
  std::unique_ptr<ThreadPoolExecutor> pool_;
};

}  // namespace

std::shared_ptr<EventLoop> defaultMainLoop() {
  static NoDestructor<std::shared_ptr<EventLoop>> loop(std::make_shared<LazyMainLoop>());
  return *loop;
}

std::shared_ptr<Executor> defaultBackgroundExecutor() {
  static NoDestructor<std::shared_ptr<Executor>> executor(std::make_shared<LazyExecutor>());
  return *executor;
}

}  // namespace loomset
