#include "runtime/macros/MOXAdIdAccess.h"

#include "loomset/platform/Platform.h"

namespace loomset {

std::string MOXAdIdAccess::retrieveId() {
  const auto access = Platform::current()->advertisingId;
  if (!access || !access->isComplete()) return std::string();
  return access->retrieveId().value_or(std::string());
}

bool MOXAdIdAccess::retrieveTrackingFlag() {
  const auto access = Platform::current()->advertisingId;
  if (!access || !access->isComplete()) return false;
  return access->retrieveTrackingFlag();
}

}  // namespace loomset
