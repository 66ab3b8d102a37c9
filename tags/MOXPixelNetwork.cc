#include "tags/MOXPixelNetwork.h"

#include <utility>

#include "Library/Util/platform/Mutex.h"
#include "Library/Util/platform/NoDestructor.h"

namespace loomset {
namespace {

struct FactorySlot {
  Mutex mu;
  MOXPixelNetwork::Factory factory GUARDED_BY(mu);
};

FactorySlot& slot() {
  static NoDestructor<FactorySlot> instance;
  return *instance;
}

}  // namespace

void MOXPixelNetwork::setDefaultFactory(Factory factory) {
  FactorySlot& s = slot();
  MutexLock lock(s.mu);
  s.factory = std::move(factory);
}

std::shared_ptr<MOXPixelNetwork> MOXPixelNetwork::createDefault() {
  Factory factory;
  {
    FactorySlot& s = slot();
    MutexLock lock(s.mu);
    factory = s.factory;
  }
  return factory ? factory() : nullptr;
}

}  // namespace loomset
