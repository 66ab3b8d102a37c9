// Locks the thread-safety analysis can follow: `Mutex` and `RecursiveMutex` wrap their std
// counterparts with capability annotations, `MutexLock` / `RecursiveMutexLock` hold one for a
// scope, and `CondVar` waits on a held `Mutex`. Members a lock protects are declared
// LOOMSET_GUARDED_BY(mu_) next to it (ThreadAnnotations.h). Public headers include this file for
// the locks of their classes; an application has no need of it.
//
// The analysis does not know that a RecursiveMutex may be taken again by the thread holding it; it
// only checks within one function, where taking a lock twice is a mistake anyway.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "loomset/detail/ThreadAnnotations.h"

namespace loomset {

class CondVar;

class LOOMSET_CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() LOOMSET_ACQUIRE() { mu_.lock(); }
  void unlock() LOOMSET_RELEASE() { mu_.unlock(); }
  bool try_lock() LOOMSET_TRY_ACQUIRE(true) { return mu_.try_lock(); }

 private:
  friend class CondVar;
  std::mutex mu_;
};

class LOOMSET_CAPABILITY("mutex") RecursiveMutex {
 public:
  RecursiveMutex() = default;
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;

  void lock() LOOMSET_ACQUIRE() { mu_.lock(); }
  void unlock() LOOMSET_RELEASE() { mu_.unlock(); }
  bool try_lock() LOOMSET_TRY_ACQUIRE(true) { return mu_.try_lock(); }

 private:
  std::recursive_mutex mu_;
};

// Holds `Lockable` (any type annotated as a capability with lock() and unlock()) from
// construction to destruction; unlock() and lock() let go of it and take it again in between.
template <typename Lockable>
class LOOMSET_SCOPED_CAPABILITY ScopedLock {
 public:
  explicit ScopedLock(Lockable& mu) LOOMSET_ACQUIRE(mu) : mu_(mu) { mu_.lock(); }
  ~ScopedLock() LOOMSET_RELEASE() {
    if (held_) mu_.unlock();
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

  void unlock() LOOMSET_RELEASE() {
    mu_.unlock();
    held_ = false;
  }
  void lock() LOOMSET_ACQUIRE() {
    mu_.lock();
    held_ = true;
  }

 private:
  Lockable& mu_;
  bool held_ = true;
};

using MutexLock = ScopedLock<Mutex>;
using RecursiveMutexLock = ScopedLock<RecursiveMutex>;

// A condition variable over a Mutex the waiting thread holds. Waits may wake spuriously: callers
// loop on their condition (`while (!ready_) cv_.wait(mu_);`), which keeps the guarded reads
// inside the analysed function.
class CondVar {
 public:
  CondVar() = default;
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  // Releases `mu` while waiting and holds it again on return.
  void wait(Mutex& mu) LOOMSET_REQUIRES(mu) {
    std::unique_lock<std::mutex> lock(mu.mu_, std::adopt_lock);
    cv_.wait(lock);
    lock.release();
  }
  // The same, for at most `timeout`; false when the time ran out.
  template <typename Rep, typename Period>
  bool waitFor(Mutex& mu, const std::chrono::duration<Rep, Period>& timeout) LOOMSET_REQUIRES(mu) {
    std::unique_lock<std::mutex> lock(mu.mu_, std::adopt_lock);
    const bool woken = cv_.wait_for(lock, timeout) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }
  // The same, until `deadline`; false when it has passed.
  template <typename Clock, typename Duration>
  bool waitUntil(Mutex& mu, const std::chrono::time_point<Clock, Duration>& deadline)
      LOOMSET_REQUIRES(mu) {
    std::unique_lock<std::mutex> lock(mu.mu_, std::adopt_lock);
    const bool woken = cv_.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }

  void notifyOne() { cv_.notify_one(); }
  void notifyAll() { cv_.notify_all(); }

 private:
  std::condition_variable cv_;
};

}  // namespace loomset
