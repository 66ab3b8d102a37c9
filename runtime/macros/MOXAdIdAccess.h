// The advertising identifier as the container half sees it: the optional `advertisingId` access
// of the platform bundle in force, which the analytics half reads too. Without one (or with an
// incomplete one) the identifier is the empty text and tracking is not allowed.
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
