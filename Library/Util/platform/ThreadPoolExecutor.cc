#include <asio/post.hpp>
#include <asio/thread_pool.hpp>
#include <memory>
#include <thread>

#include "Library/Util/platform/GuardedBlock.h"
#include "loomset/platform/EventLoop.h"

namespace loomset {

namespace {

// Which pool, if any, the current thread works for.
thread_local const void* currentPool = nullptr;

}  // namespace

class ThreadPoolExecutor::Impl {
 public:
  explicit Impl(unsigned threads) : pool_(std::make_unique<asio::thread_pool>(threads)) {}

  void execute(std::function<void()> work) {
    const void* pool = pool_.get();
    asio::post(*pool_, [pool, work = std::move(work)] {
      const void* previous = currentPool;
      currentPool = pool;
      runBlockGuarded("the background pool", work);
      currentPool = previous;
    });
  }

  void finish() {
    if (currentPool != pool_.get()) {
      pool_->join();
      return;
    }
    // A pool thread cannot join itself. Hand the pool to a helper thread that waits for the
    // queued work (this thread's included, once it returns) and then releases it.
    std::thread([pool = std::move(pool_)] { pool->join(); }).detach();
  }

 private:
  std::unique_ptr<asio::thread_pool> pool_;
};

ThreadPoolExecutor::ThreadPoolExecutor(unsigned threads)
    : impl_(std::make_unique<Impl>(threads == 0 ? 1 : threads)) {}

ThreadPoolExecutor::~ThreadPoolExecutor() {
  impl_->finish();
}

void ThreadPoolExecutor::execute(std::function<void()> work) {
  if (!work) return;
  impl_->execute(std::move(work));
}

}  // namespace loomset
