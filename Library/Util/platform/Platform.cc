#include "loomset/platform/Platform.h"

#include <atomic>
#include <mutex>

#include "Library/Util/platform/CurrentLogger.h"
#include "Library/Util/platform/DefaultServices.h"
#include "Library/Util/platform/NoDestructor.h"
#include "Library/Util/platform/OpenSslRandomSource.h"

namespace loomset {

namespace {

// Never destroyed: worker threads may still read the bundle while the process exits.
std::shared_ptr<const Platform>& currentSlot() {
  static NoDestructor<std::shared_ptr<const Platform>> slot;
  return *slot;
}

std::shared_ptr<MOXLogger>& loggerSlot() {
  static NoDestructor<std::shared_ptr<MOXLogger>> slot(defaultLogger());
  return *slot;
}

// Serialises installations, so that the bundle and the logger slot change together and a logger
// replaced through MOXLog is not lost to a bundle installed at the same moment.
std::mutex& installMutex() {
  static NoDestructor<std::mutex> mu;
  return *mu;
}

// Built once, so returning to the default after a test brings back the same services.
std::shared_ptr<const Platform> defaultPlatform() {
  static NoDestructor<std::shared_ptr<const Platform>> platform(Platform::systemDefault());
  return *platform;
}

// A bundle missing a service would crash whoever reaches for it later, far from the mistake.
std::shared_ptr<const Platform> completed(std::shared_ptr<const Platform> platform) {
  // An empty data root is left alone: it stands for "no data directory", which the stores
  // handle by keeping nothing on disk. The advertising services are optional.
  const Platform& p = *platform;
  const bool complete = p.clock && p.random && p.mainLoop && p.background && p.fileSystem &&
                        p.http && p.logger && p.containerWorker && p.analyticsWorker &&
                        p.reachability;
  if (complete) return platform;
  auto copy = std::make_shared<Platform>(p);
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
  fill(copy->fileSystem, fallback->fileSystem, "fileSystem");
  fill(copy->http, fallback->http, "http");
  fill(copy->logger, fallback->logger, "logger");
  fill(copy->containerWorker, fallback->containerWorker, "containerWorker");
  fill(copy->analyticsWorker, fallback->analyticsWorker, "analyticsWorker");
  fill(copy->reachability, fallback->reachability, "reachability");
  // Logged to the logger in force until now: the one the bundle brings may not exist.
  MOXLog::error("Platform bundle without " + missing + "; using the system default for it");
  return copy;
}

void install(std::shared_ptr<const Platform> platform) {
  std::atomic_store_explicit(&loggerSlot(), platform->logger, std::memory_order_release);
  std::atomic_store_explicit(&currentSlot(), std::move(platform), std::memory_order_release);
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
  platform->fileSystem = defaultFileSystem();
  platform->http = defaultHttpClient();
  platform->logger = defaultLogger();
  platform->containerWorker = defaultContainerWorker();
  platform->analyticsWorker = defaultAnalyticsWorker();
  platform->reachability = defaultReachabilityWatcherFactory();
  return platform;
}

std::shared_ptr<const Platform> Platform::current() {
  auto platform = std::atomic_load_explicit(&currentSlot(), std::memory_order_acquire);
  if (platform) return platform;
  auto fallback = defaultPlatform();
  std::shared_ptr<const Platform> expected;
  // Another thread may have set a bundle meanwhile; that one wins. The default bundle's logger
  // is the one the logger slot starts with, so the slot needs no update here.
  if (std::atomic_compare_exchange_strong(&currentSlot(), &expected, fallback)) return fallback;
  return expected;
}

void Platform::setCurrent(std::shared_ptr<const Platform> platform) {
  platform = platform ? completed(std::move(platform)) : defaultPlatform();
  std::lock_guard<std::mutex> lock(installMutex());
  install(std::move(platform));
}

std::shared_ptr<MOXLogger> currentLogger() {
  return std::atomic_load_explicit(&loggerSlot(), std::memory_order_acquire);
}

void setLoggerOfCurrentPlatform(std::shared_ptr<MOXLogger> logger) {
  if (!logger) return;
  // Read before taking the lock: building the default bundle may log.
  Platform::current();
  std::lock_guard<std::mutex> lock(installMutex());
  auto copy = std::make_shared<Platform>(*Platform::current());
  copy->logger = std::move(logger);
  install(std::move(copy));
}

}  // namespace loomset
