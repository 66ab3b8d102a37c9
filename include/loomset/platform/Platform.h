// The platform bundle: every service through which the library reads the clock, the file system,
// the device, randomness, and where it runs its background and result work. The library's
// process-wide objects take the bundle current when they are first used; set it before first use
// (tests install a fresh bundle with fakes and a temporary data root for each test).
//
// Threads: `current` and `setCurrent` are safe from any thread; a bundle is immutable once set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "loomset/Export.h"
#include "loomset/platform/Clock.h"
#include "loomset/platform/DeviceInfo.h"
#include "loomset/platform/EventLoop.h"

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

  // A bundle of the real services with the system defaults. Every such bundle shares one main
  // loop, "loomset-main", and one background pool; their threads start on first use.
  static std::shared_ptr<Platform> systemDefault();
  // The bundle in force; the system default until another is set. Cheap enough for hot paths.
  static std::shared_ptr<const Platform> current();
  // Installs a bundle; nullptr goes back to the system default. A bundle missing a service is
  // logged as an error and completed with the system default's. An empty data root is kept: it
  // means there is no data directory, and nothing is stored on disk.
  static void setCurrent(std::shared_ptr<const Platform> platform);
};

}  // namespace loomset
