// Optional access to the platform's advertising identifier. When an application puts one in the
// platform bundle (`Platform::advertisingId`, before the first use of `PLU`), hits of trackers
// that allow it carry "&idfa" and "&ate", and the container macros "_adi", "_aid", "_ate" and
// "_cqid" answer from it; without it those fields do not exist.
//
// Threads: the functions are called from the threads that send hits; they must be thread-safe.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "loomset/Export.h"

namespace loomset {

struct LOOMSET_EXPORT PLUAdvertisingIdAccess {
  // The identifier, or nothing when the platform has none.
  std::function<std::optional<std::string>()> retrieveId;
  // Whether the user allows ad tracking.
  std::function<bool()> retrieveTrackingFlag;

  bool isComplete() const { return retrieveId && retrieveTrackingFlag; }
};

}  // namespace loomset
