#include "analytics/crash/PLUUncaughtExceptionHandler.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "Library/Util/platform/Mutex.h"
#include "Library/Util/platform/NoDestructor.h"
#include "analytics/PLULog.h"
#include "analytics/crash/PLUExceptionParser.h"
#include "loomset/PLUDictionaryBuilder.h"
#include "loomset/PLUTracker.h"

namespace loomset {
namespace {

// A real-time bound on how long a dying process is kept alive; a test's fake clock must not
// stretch it.
constexpr auto kReportWait = std::chrono::seconds(5);

struct HandlerState {
  Mutex installMu;
  std::atomic<std::terminate_handler> previous{nullptr};
  std::shared_ptr<const PLUCrashReporting> reporting;  // atomic access
  std::atomic<int> insideHandler{0};

  Mutex doneMu;
  CondVar doneCv;
  bool reportDone GUARDED_BY(doneMu) = false;
};

HandlerState& state() {
  static NoDestructor<HandlerState> s;
  return *s;
}

// A one-shot latch shared with the reporting thread, which may outlive the wait.
struct Latch {
  Mutex mu;
  CondVar cv;
  bool done GUARDED_BY(mu) = false;
  void open() EXCLUDES(mu) {
    {
      MutexLock lock(mu);
      done = true;
    }
    cv.notifyAll();
  }
  void waitUntil(std::chrono::steady_clock::time_point deadline) EXCLUDES(mu) {
    MutexLock lock(mu);
    while (!done && cv.waitUntil(mu, deadline)) {
    }
  }
};

// Dispatches until the store has nothing left to send for us, the dispatch fails, or the
// deadline passes. Each completion re-dispatches, so the crash hit goes out even behind a
// backlog of older hits.
void dispatchUntilDone(const std::shared_ptr<const PLUCrashReporting>& reporting,
                       const std::shared_ptr<Latch>& latch,
                       std::chrono::steady_clock::time_point deadline) {
  reporting->dispatchWithCompletionHandler(
      [reporting, latch, deadline](PLUDispatchOutcome outcome) {
        if (outcome == kPLUDispatchSent && std::chrono::steady_clock::now() < deadline) {
          dispatchUntilDone(reporting, latch, deadline);
        } else {
          latch->open();
        }
      });
}

// Sends the crash hit and dispatches. Runs on a thread of its own so that a lock held by the
// crashing thread cannot hold the process past the deadline.
void report(const std::shared_ptr<const PLUCrashReporting>& reporting,
            const std::shared_ptr<PLUExceptionInfo>& info, const std::shared_ptr<Latch>& latch,
            std::chrono::steady_clock::time_point deadline) {
  try {
    if (!reporting || !reporting->defaultTracker || !reporting->dispatchWithCompletionHandler) {
      latch->open();
      return;
    }
    const std::string description = PLUExceptionParser::exceptionDescription(*info, 150);
    const PLUHitMap hit =
        PLUDictionaryBuilder::plu_exceptionWithDescription(description, true).build();
    if (auto tracker = reporting->defaultTracker()) tracker->plu_send(hit);
    // The hit is queued for the worker and would be committed with the next batched save; a
    // dispatch that answers at once (offline, or a request already in flight) would let the
    // process end before that.
    if (reporting->commitStores) reporting->commitStores();
    dispatchUntilDone(reporting, latch, deadline);
  } catch (...) {
    latch->open();
  }
}

void markReportDone() {
  auto& s = state();
  {
    MutexLock lock(s.doneMu);
    s.reportDone = true;
  }
  s.doneCv.notifyAll();
}

}  // namespace

void PLUInstallUncaughtExceptionHandler(std::shared_ptr<const PLUCrashReporting> reporting) {
  auto& s = state();
  MutexLock lock(s.installMu);
  std::atomic_store(&s.reporting, std::move(reporting));
  const std::terminate_handler current = std::get_terminate();
  if (current == &plu_terminateHandler) return;
  s.previous.store(current);
  std::set_terminate(&plu_terminateHandler);
}

void PLUUninstallUncaughtExceptionHandler() {
  auto& s = state();
  MutexLock lock(s.installMu);
  if (std::get_terminate() != &plu_terminateHandler) return;
  std::set_terminate(s.previous.load());
}

void PLUUncaughtExceptionHandler(const std::exception_ptr& exception) noexcept {
  auto& s = state();
  const auto deadline = std::chrono::steady_clock::now() + kReportWait;
  int expected = 0;
  if (!s.insideHandler.compare_exchange_strong(expected, 1, std::memory_order_seq_cst)) {
    try {
      const PLUExceptionInfo info = PLUExceptionInfo::fromException(exception, false);
      PLU_LOG_WARNING("Bailing on multiple uncaught exceptions: " +
                      (exception ? info.name : std::string("nil")));
    } catch (...) {
    }
    // A second crash must not end the process while the first one's hit is being sent.
    MutexLock lock(s.doneMu);
    while (!s.reportDone && s.doneCv.waitUntil(s.doneMu, deadline)) {
    }
    return;
  }
  if (!exception) {
    markReportDone();
    return;
  }
  try {
    auto info =
        std::make_shared<PLUExceptionInfo>(PLUExceptionInfo::fromException(exception, true));
    PLU_LOG_WARNING("Uncaught exception: " + info->name +
                    (info->reason.empty() ? std::string() : ": " + info->reason));
    auto latch = std::make_shared<Latch>();
    std::thread(report, std::atomic_load(&s.reporting), info, latch, deadline).detach();
    latch->waitUntil(deadline);
  } catch (...) {
  }
  markReportDone();
}

void plu_terminateHandler() noexcept {
  PLUUncaughtExceptionHandler(std::current_exception());
  const std::terminate_handler previous = state().previous.load();
  if (previous && previous != &plu_terminateHandler) previous();
  std::abort();
}

}  // namespace loomset
