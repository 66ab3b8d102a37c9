// Crash reporting: a terminate handler that turns the first uncaught C++ exception of the
// process into one fatal exception hit on the default tracker of the facade that installed it,
// commits it to the hit store, dispatches it, waits at most five seconds in all, and then hands
// over to the terminate handler it replaced.
//
// Fatal signals are left alone: building and sending a hit allocates and takes locks, which a
// signal handler cannot do safely.
//
// Threads: install and uninstall from any thread; the handler runs on the crashing thread.
#pragma once

#include <exception>
#include <functional>
#include <memory>

#include "loomset/PLUHitMap.h"

namespace loomset {

class PLUTracker;

// What a crash is reported through: the facade's default tracker and its dispatch. Each answers
// nothing once the facade is gone.
struct PLUCrashReporting {
  std::function<std::shared_ptr<PLUTracker>()> defaultTracker;
  // Commits every hit store, waiting for the analytics worker: the crash hit is durable before
  // the dispatch starts, whatever that dispatch answers and however soon.
  std::function<void()> commitStores;
  // Dispatches, calling the handler with the outcome (nothing to send without a dispatcher).
  std::function<void(std::function<void(PLUDispatchOutcome)> handler)>
      dispatchWithCompletionHandler;
};

// Installs the handler unless it is installed already, and reports through `reporting` from now
// on (a null one reports nothing); remembers the handler it replaces.
void PLUInstallUncaughtExceptionHandler(std::shared_ptr<const PLUCrashReporting> reporting = {});
// Puts back the handler replaced by the install, when this one is still installed.
void PLUUninstallUncaughtExceptionHandler();
// Reports the exception. Only the first call of a process reports; later calls log
// "Bailing on multiple uncaught exceptions: ..." and return once the first report is over.
// Returns after at most about five seconds and never throws.
void PLUUncaughtExceptionHandler(const std::exception_ptr& exception) noexcept;
// The terminate handler itself: reports `std::current_exception()`, then calls the previous
// handler (and aborts should that return).
[[noreturn]] void plu_terminateHandler() noexcept;

}  // namespace loomset
