#include "loomset/PLUAdvertisingIdAccess.h"

#include <mutex>

namespace loomset {
namespace {

struct Slot {
  std::mutex mu;
  std::shared_ptr<const PLUAdvertisingIdAccess> access;
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

}  // namespace loomset
