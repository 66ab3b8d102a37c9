// The status observers of a container or of a manager: an ObserverList whose observers' exceptions
// end up in the container half's log.
//
// Threads: as ObserverList, safe from any thread; deliveries run on the loop given to `post`.
#pragma once

#include "Library/Util/platform/ObserverList.h"
#include "loomset/MOXContainerStatus.h"
#include "loomset/MOXLog.h"

namespace loomset {

class MOXContainerStatusObservers final : public ObserverList<MOXContainerStatus> {
 public:
  MOXContainerStatusObservers()
      : ObserverList([](const std::string& message) {
          MOXLog::error("Container status observer: " + message);
        }) {}
};

}  // namespace loomset
