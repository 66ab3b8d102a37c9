// Control over the process-wide facade for the library's own wiring and for tests: which
// dispatcher a new facade gets, and starting over with a new facade.
#pragma once

#include "analytics/dispatch/PLUDispatcher.h"

namespace loomset {

struct PLUInstanceControl {
  // The factory for facades created from now on (and for their later retries); an empty
  // function restores the library's own.
  static void setDispatcherFactory(PLUDispatcherFactory factory);
  static PLUDispatcherFactory dispatcherFactory();
  // Forgets the shared facade (and its published context); the next one is created over the
  // platform bundle then in force. Handles held elsewhere stay valid.
  static void resetSharedInstance();
};

}  // namespace loomset
