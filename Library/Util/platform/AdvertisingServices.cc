// The process-wide registrations of the optional advertising services.
#include "loomset/platform/PLUAdvertisingIdAccess.h"
#include "loomset/platform/PLUAdAttribution.h"

#include <mutex>

namespace loomset {
namespace {

struct Slot {
  std::mutex mu;
  std::shared_ptr<const PLUAdvertisingIdAccess> access;
  std::shared_ptr<const PLUAdAttributionProvider> attribution;
};

Slot& slot() {
  static Slot s;
  return s;
}

}  // namespace

void PLUAdvertisingIdAccess::setShared(std::shared_ptr<const PLUAdvertisingIdAccess> access) {
  auto& s = slot();
  std::lock_guard<std::mutex> lock(s.mu);
  s.access = std::move(access);
}

std::shared_ptr<const PLUAdvertisingIdAccess> PLUAdvertisingIdAccess::shared() {
  auto& s = slot();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.access;
}

void PLUAdAttributionProvider::setShared(std::shared_ptr<const PLUAdAttributionProvider> provider) {
  auto& s = slot();
  std::lock_guard<std::mutex> lock(s.mu);
  s.attribution = std::move(provider);
}

std::shared_ptr<const PLUAdAttributionProvider> PLUAdAttributionProvider::shared() {
  auto& s = slot();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.attribution;
}

}  // namespace loomset
