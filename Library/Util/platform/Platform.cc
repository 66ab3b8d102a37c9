#include "loomset/platform/Platform.h"

#include <atomic>
#include <mutex>

#include "Library/Util/platform/DefaultServices.h"
#include "Library/Util/platform/NoDestructor.h"
#include "Library/Util/platform/OpenSslRandomSource.h"
#include "loomset/MOXLog.h"

namespace loomset {

namespace {

// Never destroyed: worker threads may still read the bundle while the process exits.
std::shared_ptr<const Platform>& currentSlot() {
  static NoDestructor<std::shared_ptr<const Platform>> slot;
  return *slot;
}

// Built once, so returning to the default after a test brings back the same services.
std::shared_ptr<const Platform> defaultPlatform() {
  static NoDestructor<std::shared_ptr<const Platform>> platform(Platform::systemDefault());
  return *platform;
}

// A bundle missing a service would crash whoever reaches for it later, far from the mistake.
std::shared_ptr<const Platform> completed(std::shared_ptr<const Platform> platform) {
  // An empty data root is left alone: it stands for "no data directory", which the stores
  // handle by keeping nothing on disk.
  const bool complete =
      platform->clock && platform->random && platform->mainLoop && platform->background;
  if (complete) return platform;
  auto copy = std::make_shared<Platform>(*platform);
  const auto fallback = defaultPlatform();
  std::string missing;
  auto fill = [&missing](auto& field, const auto& value, const char* what) {
    if (field) return;
    field = value;
    missing += missing.empty() ? what : std::string(", ") + what;
  };
  fill(copy->clock, fallback->clock, "clock");
  fill(copy->random, fallback->random, "random");
  fill(copy->mainLoop, fallback->mainLoop, "mainLoop");
  fill(copy->background, fallback->background, "background");
  MOXLog::error("Platform bundle without " + missing + "; using the system default for it");
  return copy;
}

}  // namespace

std::shared_ptr<Platform> Platform::systemDefault() {
  auto platform = std::make_shared<Platform>();
  platform->clock = std::make_shared<SystemClock>();
  platform->random = std::make_shared<OpenSslRandomSource>();
  platform->application = ApplicationInfo::systemDefault();
  platform->device = DeviceInfo::systemDefault();
  platform->directories = DataDirectories::systemDefault(platform->application);
  platform->mainLoop = defaultMainLoop();
  platform->background = defaultBackgroundExecutor();
  return platform;
}

std::shared_ptr<const Platform> Platform::current() {
  auto platform = std::atomic_load_explicit(&currentSlot(), std::memory_order_acquire);
  if (platform) return platform;
  auto fallback = defaultPlatform();
  std::shared_ptr<const Platform> expected;
  // Another thread may have set a bundle meanwhile; that one wins.
  if (std::atomic_compare_exchange_strong(&currentSlot(), &expected, fallback)) return fallback;
  return expected;
}

void Platform::setCurrent(std::shared_ptr<const Platform> platform) {
  platform = platform ? completed(std::move(platform)) : defaultPlatform();
  std::atomic_store_explicit(&currentSlot(), std::move(platform), std::memory_order_release);
}

}  // namespace loomset
