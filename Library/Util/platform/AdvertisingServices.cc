// The process-wide registrations of the optional advertising services.
#include "Library/Util/platform/Mutex.h"
#include "loomset/platform/PLUAdvertisingIdAccess.h"
#include "loomset/platform/PLUAdAttribution.h"

namespace loomset {
namespace {

struct Slot {
  Mutex mu;
  std::shared_ptr<const PLUAdvertisingIdAccess> access GUARDED_BY(mu);
  std::shared_ptr<const PLUAdAttributionProvider> attribution GUARDED_BY(mu);
};

Slot& slot() {
  static Slot s;
  return s;
}

}  // namespace

void PLUAdvertisingIdAccess::setShared(std::shared_ptr<const PLUAdvertisingIdAccess> access) {
  auto& s = slot();
  MutexLock lock(s.mu);
  s.access = std::move(access);
}

std::shared_ptr<const PLUAdvertisingIdAccess> PLUAdvertisingIdAccess::shared() {
  auto& s = slot();
  MutexLock lock(s.mu);
  return s.access;
}

void PLUAdAttributionProvider::setShared(std::shared_ptr<const PLUAdAttributionProvider> provider) {
  auto& s = slot();
  MutexLock lock(s.mu);
  s.attribution = std::move(provider);
}

std::shared_ptr<const PLUAdAttributionProvider> PLUAdAttributionProvider::shared() {
  auto& s = slot();
  MutexLock lock(s.mu);
  return s.attribution;
}

}  // namespace loomset
