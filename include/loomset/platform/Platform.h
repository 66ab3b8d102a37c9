// The platform bundle: every process-wide service through which the library reads the clock, the
// file system, the device and randomness, sends HTTP requests, logs, watches reachability, and
// where it runs its background, worker and result work; plus the optional advertising services.
// The library's process-wide objects (the analytics facade, the container half's utilities) take
// the bundle current when they are first used, and hand it down to everything below them; set it
// before first use (tests install a fresh bundle with fakes and a temporary data root for each
// test).
//
// Ownership: the bundle shares its services; a service may serve several bundles (every bundle
// made by `systemDefault` shares one main loop, one pool, one HTTP client, one logger and the two
// worker loops).
//
// Threads: `current` and `setCurrent` are safe from any thread; a bundle is immutable once set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "loomset/Export.h"
#include "loomset/MOXLog.h"
#include "loomset/platform/Clock.h"
#include "loomset/platform/DeviceInfo.h"
#include "loomset/platform/EventLoop.h"
#include "loomset/platform/FileSystem.h"
#include "loomset/platform/HttpClient.h"
#include "loomset/platform/PLUAdAttribution.h"
#include "loomset/platform/PLUAdvertisingIdAccess.h"
#include "loomset/platform/ReachabilityWatcher.h"

namespace loomset {

// Cryptographically seeded randomness. Implementations are safe from any thread.
class LOOMSET_EXPORT RandomSource {
 public:
  virtual ~RandomSource() = default;
  // Uniform in [0, bound); 0 when bound is 0.
  virtual std::uint32_t uniform(std::uint32_t bound) = 0;
  // Uniform in [0, 1).
  virtual double unit() = 0;
  // A random version-4 UUID in upper-case canonical form.
  virtual std::string uuid() = 0;
};

// The Library and Documents directories under one configurable root.
class LOOMSET_EXPORT DataDirectories {
 public:
  explicit DataDirectories(std::string root) : root_(std::move(root)) {}
  // $XDG_DATA_HOME (or ~/.local/share) + "/loomset/" + the application identifier (with "/"
  // replaced, so it stays one directory). Nothing is created on disk.
  static DataDirectories systemDefault(const ApplicationInfo& app);
  const std::string& root() const { return root_; }
  std::string libraryDirectory() const { return root_ + "/Library"; }
  std::string documentsDirectory() const { return root_ + "/Documents"; }

 private:
  std::string root_;
};

struct LOOMSET_EXPORT Platform {
  std::shared_ptr<Clock> clock;
  std::shared_ptr<RandomSource> random;
  ApplicationInfo application;
  DeviceInfo device;
  DataDirectories directories{""};
  // Where result blocks and timer callbacks of the container half are delivered.
  std::shared_ptr<EventLoop> mainLoop;
  // Blocking background work.
  std::shared_ptr<Executor> background;
  // Every file the library reads or writes, every directory it makes, every file it removes.
  std::shared_ptr<FileSystem> fileSystem;
  // Every HTTP request of both halves.
  std::shared_ptr<HttpClient> http;
  // Proxy, certificate authorities and time-out stamped onto every request of both halves before
  // it goes to `http`. By default the environment's proxy variables and the system's authorities.
  HttpSettings httpSettings;
  // Where `MOXLog` writes (the container half's log, which the analytics half's default logger
  // also ends in).
  std::shared_ptr<MOXLogger> logger;
  // The container half's worker thread "MOXThread": the pixel hit store and dispatcher and the
  // network operations.
  std::shared_ptr<EventLoop> containerWorker;
  // The analytics worker thread "PLUThread": the hit store, the properties store, the dispatcher
  // and its timer.
  std::shared_ptr<EventLoop> analyticsWorker;
  // Makes the watchers that tell whether a host can be reached.
  MOXReachabilityWatcherFactory reachability;
  // Optional: absent (null) unless the application has them.
  std::shared_ptr<const PLUAdvertisingIdAccess> advertisingId;
  std::shared_ptr<const PLUAdAttributionProvider> adAttribution;

  // A bundle of the real services with the system defaults: the clock of the system, OpenSSL
  // randomness, POSIX files, libcurl, a logger writing to standard error, host-route watching,
  // and the loops "loomset-main", "MOXThread" and "PLUThread", shared by every such bundle, whose
  // threads start on first use. No advertising services.
  static std::shared_ptr<Platform> systemDefault();
  // The bundle in force; the system default until another is set. Cheap enough for hot paths.
  static std::shared_ptr<const Platform> current();
  // Installs a bundle; nullptr goes back to the system default. A bundle missing a service is
  // logged as an error and completed with the system default's (the optional advertising services
  // stay absent). An empty data root is kept: it means there is no data directory, and nothing is
  // stored on disk.
  static void setCurrent(std::shared_ptr<const Platform> platform);
};

}  // namespace loomset
