// Installs a platform bundle of fakes as Platform::current() for the life of a test and puts the
// previous bundle back afterwards:
//   clock       a FakeClock at FakeClock::kDefaultStartMillis
//   mainLoop    a ManualEventLoop on that clock, named "loomset-main"
//   background  queued on the main loop, so one runUntilIdle() runs background work and the
//               results it posts, in order, on the test's thread
//   random      a SeededRandomSource (the same draws in every run)
//   application "LoomsetTests", "org.loomset.tests", version "1.0", resources in <tmp>/bundle
//   device      "x86_64", "Linux" "6.1.0", a 1024x768 screen at scale 2, {"en-US", "en"}, en/US
//   directories rooted at <tmp>/data
// where <tmp> is a fresh TempDir; every other service (file system, HTTP client, logger, worker
// loops, reachability watchers, advertising services) is that of the bundle in force before.
// `customize` may change any field before the bundle is installed. Nest them freely; they restore
// in reverse order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "loomset/platform/Platform.h"
#include "support/FakeClock.h"
#include "support/ManualEventLoop.h"
#include "support/TempDir.h"

namespace loomset::testing {

// A RandomSource that gives the same sequence for the same seed. Safe from any thread.
class SeededRandomSource final : public RandomSource {
 public:
  explicit SeededRandomSource(std::uint64_t seed = 20011) : engine_(seed) {}
  void reseed(std::uint64_t seed);
  std::uint32_t uniform(std::uint32_t bound) override;
  double unit() override;
  std::string uuid() override;

 private:
  std::mutex mu_;
  std::mt19937_64 engine_;
};

// Runs work by posting it to an event loop.
class LoopExecutor final : public Executor {
 public:
  explicit LoopExecutor(std::shared_ptr<EventLoop> loop) : loop_(std::move(loop)) {}
  void execute(std::function<void()> work) override { loop_->post(std::move(work)); }

 private:
  const std::shared_ptr<EventLoop> loop_;
};

class ScopedPlatform {
 public:
  explicit ScopedPlatform(std::function<void(Platform&)> customize = nullptr);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

  FakeClock& clock() const { return *clock_; }
  ManualEventLoop& mainLoop() const { return *mainLoop_; }
  SeededRandomSource& random() const { return *random_; }
  const TempDir& tempDir() const { return tempDir_; }
  const std::string& dataRoot() const { return platform_->directories.root(); }
  const std::string& resourceDirectory() const { return platform_->application.resourceDirectory; }
  const std::shared_ptr<const Platform>& platform() const { return platform_; }

  std::size_t runUntilIdle() { return mainLoop_->runUntilIdle(); }
  std::size_t advanceAndRun(double seconds) { return mainLoop_->advanceAndRun(seconds); }

 private:
  TempDir tempDir_;
  std::shared_ptr<FakeClock> clock_;
  std::shared_ptr<ManualEventLoop> mainLoop_;
  std::shared_ptr<SeededRandomSource> random_;
  std::shared_ptr<const Platform> platform_;
  std::shared_ptr<const Platform> previous_;
};

}  // namespace loomset::testing
