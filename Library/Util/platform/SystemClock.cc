#include <chrono>

#include "loomset/platform/Clock.h"

namespace loomset {

double SystemClock::nowMillis() const {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double, std::milli>(sinceEpoch).count();
}

}  // namespace loomset
