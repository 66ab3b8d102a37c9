// Test doubles at the analytics seams: a dispatcher that records the hits handed to it (built at
// once, through the same drop rules a real dispatcher applies), a PLULogger that keeps its
// lines, and a fixture helper that gives a test a fresh facade over a fake platform.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "analytics/PLUInternal.h"
#include "analytics/dispatch/PLUDispatcher.h"
#include "loomset/PLU.h"
#include "loomset/PLULogger.h"
#include "support/ScopedPlatform.h"

namespace loomset::testing {

class PLURecordingDispatcher : public PLUDispatcher {
 public:
  explicit PLURecordingDispatcher(std::shared_ptr<RandomSource> random);

  void queueModel(PLUTrackerModel model) override;
  void dispatch() override { dispatchWithCompletionHandler(nullptr); }
  void dispatchWithCompletionHandler(Completion handler) override;
  double dispatchInterval() override;
  void setDispatchInterval(double seconds) override;
  bool optOut() override { return optOut_.load(); }
  void setOptOut(bool optOut) override { optOut_.store(optOut); }
  void setDryRun(bool dryRun) override { dryRun_.store(dryRun); }
  std::shared_ptr<PLUClientProperties> dataStore() override { return properties_; }

  std::vector<PLUHitMap> hits() const;
  std::size_t hitCount() const;
  PLUHitMap lastHit() const;
  void clear();
  int dispatchCount() const { return dispatches_.load(); }
  bool dryRun() const { return dryRun_.load(); }
  // Called with every stored hit, on the thread that queued it.
  void setOnHit(std::function<void(const PLUHitMap&)> onHit);

 private:
  std::shared_ptr<PLUClientProperties> properties_;
  std::atomic<bool> optOut_{false};
  std::atomic<bool> dryRun_{false};
  std::atomic<int> dispatches_{0};
  mutable std::mutex mu_;
  std::vector<PLUHitMap> hits_;  // guarded by mu_
  double interval_ = 120;        // guarded by mu_
  std::function<void(const PLUHitMap&)> onHit_;
};

class PLURecordingLogger : public PLULogger {
 public:
  std::uint32_t logLevel() const override { return level_.load(); }
  void setLogLevel(std::uint32_t level) override { level_.store(level); }
  void verbose(const std::string& m) override { add("VERBOSE", m); }
  void info(const std::string& m) override { add("INFO", m); }
  void warning(const std::string& m) override { add("WARNING", m); }
  void error(const std::string& m) override { add("ERROR", m); }

  std::vector<std::string> lines() const;
  int count(const std::string& text) const;
  bool contains(const std::string& text) const { return count(text) > 0; }
  void clear();

 private:
  void add(const char* level, const std::string& message);
  std::atomic<std::uint32_t> level_{kPLULogLevelVerbose};
  mutable std::mutex mu_;
  std::vector<std::string> lines_;
};

// A fresh facade for one test: a fake platform, a recording dispatcher, a recording logger.
// Puts a fresh facade with the library's own wiring back afterwards.
class PLUTestFacade {
 public:
  explicit PLUTestFacade(std::function<void(Platform&)> customize = nullptr,
                         bool withDispatcher = true);
  ~PLUTestFacade();

  PLU& facade() const { return *facade_; }
  PLURecordingDispatcher& dispatcher() const { return *dispatcher_; }
  PLURecordingLogger& log() const { return *logger_; }
  ScopedPlatform& platform() { return platform_; }

 private:
  ScopedPlatform platform_;
  std::shared_ptr<PLURecordingDispatcher> dispatcher_;
  std::shared_ptr<PLURecordingLogger> logger_;
  std::shared_ptr<PLU> facade_;
};

}  // namespace loomset::testing
