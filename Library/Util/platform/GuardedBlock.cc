#include "Library/Util/platform/GuardedBlock.h"

#include <exception>

#include "loomset/MOXLog.h"

namespace loomset {

void runBlockGuarded(const std::string& where, const std::function<void()>& block) {
  if (!block) return;
  try {
    block();
  } catch (const std::exception& e) {
    MOXLog::error("Caught exception: " + std::string(e.what()) + " (in a block on " + where + ")");
  } catch (...) {
    MOXLog::error("Caught exception: unknown failure (in a block on " + where + ")");
  }
}

}  // namespace loomset
