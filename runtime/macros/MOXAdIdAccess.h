// The advertising identifier as the container half sees it. There is one registration for the
// whole library, PLUAdvertisingIdAccess::setShared: an application that has an identifier
// registers it once, and both halves read it. Without a registration (or with an incomplete one)
// the identifier is the empty text and tracking is not allowed.
//
// Threads: any thread; the registered functions must be thread-safe.
#pragma once

#include <string>

namespace loomset {

class MOXAdIdAccess {
 public:
  // The identifier's text; empty when there is no provider or it knows none.
  static std::string retrieveId();
  // Whether the user allows advertising tracking; false without a provider.
  static bool retrieveTrackingFlag();
};

}  // namespace loomset
