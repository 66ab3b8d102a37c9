// The data layer's recursive push lock, which can also tell whether the calling thread holds it:
// a thread that is already delivering an update must never wait for restoring to end, since
// restoring may be what it is delivering.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "Library/Util/platform/ThreadAnnotations.h"

namespace loomset {

class CAPABILITY("mutex") PushLock {
 public:
  void lock() ACQUIRE() {
    mu_.lock();
    if (holds_++ == 0) owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  }
  void unlock() RELEASE() {
    if (--holds_ == 0) owner_.store(std::thread::id(), std::memory_order_relaxed);
    mu_.unlock();
  }
  // Only the owner ever stores its own id, so a relaxed read cannot answer yes falsely.
  bool heldByCurrentThread() const {
    return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id();
  }

 private:
  std::recursive_mutex mu_;
  int holds_ = 0;  // changed only by the thread holding mu_
  std::atomic<std::thread::id> owner_{};
};

}  // namespace loomset
