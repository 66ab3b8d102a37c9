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
  explicit Impl(unsigned threads) : pool_(std::make_shared<asio::thread_pool>(threads)) {}

  void execute(std::function<void()> work) {
    // The work may hold the last reference to this executor and run before `post` returns: the
    // pool stays alive through this copy until then, and nothing of `this` is touched after.
    const std::shared_ptr<asio::thread_pool> held = pool_;
    const void* pool = held.get();
    asio::post(*held, [pool, work = std::move(work)]() mutable {
      // Pool threads run nothing but this pool's work, so the mark stays for the thread's life:
      // asio throws the finished handler away after this returns, and the last reference to the
      // pool may go with its captures.
      currentPool = pool;
      // The work and its captures also go before this returns, while the mark is certainly set.
      std::function<void()> taken = std::move(work);
      runBlockGuarded("the background pool", taken);
      taken = nullptr;
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
  std::shared_ptr<asio::thread_pool> pool_;
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
