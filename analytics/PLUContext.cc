#include "analytics/PLUContext.h"

#include <atomic>

#include "Library/Util/platform/NoDestructor.h"
#include "analytics/PLUUserDefaults.h"
#include "analytics/store/PLUAnalyticsPropertiesStore.h"
#include "loomset/platform/Platform.h"

namespace loomset {

namespace {

std::shared_ptr<const PLUContext>& sharedSlot() {
  static NoDestructor<std::shared_ptr<const PLUContext>> slot;
  return *slot;
}

}  // namespace

PLUContext PLUContext::completed() const {
  PLUContext context = *this;
  if (!context.platform) context.platform = Platform::current();
  const Platform& platform = *context.platform;
  if (!context.worker) context.worker = platform.analyticsWorker;
  if (!context.userDefaults && !platform.directories.root().empty()) {
    context.userDefaults = PLUUserDefaults::forLibraryDirectory(
        platform.directories.libraryDirectory(), platform.fileSystem);
  }
  if (!context.propertiesStore) {
    context.propertiesStore =
        PLUAnalyticsPropertiesStore::forPlatform(context.platform, context.worker);
  }
  return context;
}

std::shared_ptr<const PLUContext> PLUContext::shared() {
  return std::atomic_load(&sharedSlot());
}

void PLUContext::setShared(std::shared_ptr<const PLUContext> context) {
  std::atomic_store(&sharedSlot(), std::move(context));
}

}  // namespace loomset
