// Compiled on its own by the thread-safety analysis tests (tests/platform/CMakeLists.txt), never
// linked: as it stands clang's analysis must accept it, and with one of the CASE_* macros defined
// it must reject it. They fail when the annotation macros expand to nothing under clang or a lock
// type loses its annotations, which would silently switch the checking off.
#include "Library/Util/platform/Mutex.h"

namespace loomset {

class Account {
 public:
  void deposit(int amount) EXCLUDES(mu_) {
    MutexLock lock(mu_);
    addLocked(amount);
  }
  int balance() const EXCLUDES(mu_) {
    MutexLock lock(mu_);
    return balance_;
  }
  void waitForFunds() EXCLUDES(mu_) {
    MutexLock lock(mu_);
    while (balance_ <= 0) funds_.wait(mu_);
  }
  void withdrawAll() EXCLUDES(mu_) {
    MutexLock lock(mu_);
    const int taken = balance_;
    balance_ = 0;
    lock.unlock();
    record(taken);
    lock.lock();
    balance_ += 0;
  }
  void audit() EXCLUDES(history_) {
    RecursiveMutexLock lock(history_);
    ++audits_;
  }

#if defined(CASE_UNGUARDED_READ)
  int peek() const {
    return balance_;
  }
#elif defined(CASE_REQUIRES_WITHOUT_LOCK)
  void sneak(int amount) {
    addLocked(amount);
  }
#elif defined(CASE_WAIT_WITHOUT_LOCK)
  void nap() {
    funds_.wait(mu_);
  }
#elif defined(CASE_LOCK_HELD_AT_RETURN)
  void forget() {
    mu_.lock();
  }
#elif defined(CASE_WRITE_AFTER_UNLOCK)
  void late(int amount) {
    MutexLock lock(mu_);
    lock.unlock();
    balance_ = amount;
  }
#elif defined(CASE_EXCLUDED_LOCK_HELD)
  void twice() {
    MutexLock lock(mu_);
    deposit(1);
  }
#elif defined(CASE_RECURSIVE_UNGUARDED)
  int audits() const {
    return audits_;
  }
#endif

 private:
  void addLocked(int amount) REQUIRES(mu_) {
    balance_ += amount;
    funds_.notifyAll();
  }
  void record(int) {}

  mutable Mutex mu_;
  CondVar funds_;
  int balance_ GUARDED_BY(mu_) = 0;

  RecursiveMutex history_;
  int audits_ GUARDED_BY(history_) = 0;
};

}  // namespace loomset
