#include "runtime/macros/MOXAdIdAccess.h"

#include "loomset/platform/PLUAdvertisingIdAccess.h"

namespace loomset {

std::string MOXAdIdAccess::retrieveId() {
  const auto access = PLUAdvertisingIdAccess::shared();
  if (!access || !access->isComplete()) return std::string();
  return access->retrieveId().value_or(std::string());
}

bool MOXAdIdAccess::retrieveTrackingFlag() {
  const auto access = PLUAdvertisingIdAccess::shared();
  if (!access || !access->isComplete()) return false;
  return access->retrieveTrackingFlag();
}

}  // namespace loomset
