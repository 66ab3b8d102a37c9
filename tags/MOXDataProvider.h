// The pixel hit store: pending pixel hits in the SQLite file "WEN.sql" of the Library directory
// (the table of MOXHitTable), with the limits of 2,000 hits and 30 days. Every operation posts its
// work to the worker thread "MOXThread" and returns at once, except `onExit`, which waits for it.
//
// Saving: the operations of a burst share one transaction, committed when the last queued one has
// run (`save`), after the hits past the limits have been deleted; `hasHits` then tells whether any
// hit is left. A fetch for sending also sets it: to whether any hit is stored, including hits that
// wait out their retry delay (so a lone failed hit keeps the dispatch timer going and is retried).
// A store that cannot be opened (no data root, an unusable file) does nothing: fetches find no
// hits.
//
// Threads: every operation may be called from any thread; completions and the `hasHits` observer
// run on the worker thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loomset/platform/Clock.h"
#include "loomset/platform/EventLoop.h"
#include "tags/MOXHitTable.h"
#include "tags/MOXModel.h"

namespace loomset {

class MOXDataProvider : public std::enable_shared_from_this<MOXDataProvider> {
 public:
  using Completion = std::function<void(std::vector<MOXHit> hits)>;
  static constexpr std::size_t kDefaultMaxHitCount = 2000;
  static constexpr double kDefaultMaxHitAge = 2592000;  // 30 days, in seconds
  // Hits whose latest failed attempt is more recent than this are not fetched for sending.
  static constexpr double kRetryDelaySeconds = 120;

  struct Options {
    // The file; "WEN.sql" in the Library directory of the platform bundle when unset, and no
    // file at all without a data root.
    std::optional<std::string> path;
    // The worker thread (MOXDispatchUtil's) and the platform's clock when null.
    std::shared_ptr<EventLoop> worker;
    std::shared_ptr<const Clock> clock;
  };

  static std::shared_ptr<MOXDataProvider> create(Options options = Options());
  ~MOXDataProvider();
  MOXDataProvider(const MOXDataProvider&) = delete;
  MOXDataProvider& operator=(const MOXDataProvider&) = delete;

  void addHitWithURLString(const std::string& url);
  // Oldest first, at most `limit` (0: all), leaving out hits that failed in the last 120 s.
  void fetchNotRecentlyAttemptedHitsWithLimit(std::size_t limit, Completion completion);
  void fetchHitsWithLimit(std::size_t limit, Completion completion);
  void deleteHits(const std::vector<MOXHit>& hits);
  // Records a failed attempt now: the first failure time where there is none, the latest always.
  void updateFailedHits(const std::vector<MOXHit>& hits);
  void save();
  // Saves on the worker thread and waits for it (the application is leaving the foreground).
  void onExit();

  bool hasHits() const { return hasHits_.load(); }
  // Called on the worker thread whenever `hasHits` changes.
  void setHasHitsObserver(std::function<void(bool)> observer);
  std::size_t maxHitCount() const { return maxHitCount_.load(); }
  void setMaxHitCount(std::size_t count) { maxHitCount_.store(count); }
  double maxHitAge() const { return maxHitAge_.load(); }
  void setMaxHitAge(double seconds) { maxHitAge_.store(seconds); }

  const std::shared_ptr<EventLoop>& worker() const { return worker_; }

 private:
  MOXDataProvider(std::optional<std::string> path, std::shared_ptr<EventLoop> worker,
                  std::shared_ptr<const Clock> clock);
  // Runs the operation on the worker thread inside the shared transaction; the last queued
  // operation saves.
  void post(std::function<void(MOXHitTable&)> operation, bool writes);
  void openOnWorker();
  void saveOnWorker();
  void setHasHits(bool hasHits);

  const std::optional<std::string> path_;
  const std::shared_ptr<EventLoop> worker_;
  const std::shared_ptr<const Clock> clock_;
  std::atomic<std::size_t> maxHitCount_{kDefaultMaxHitCount};
  std::atomic<double> maxHitAge_{kDefaultMaxHitAge};
  std::atomic<bool> hasHits_{false};
  // Operations posted and not yet run.
  std::atomic<std::size_t> queued_{0};
  std::uint64_t exitSaver_ = 0;

  // Worker thread only.
  std::optional<MOXHitTable> table_;
  bool changed_ = false;
  std::function<void(bool)> hasHitsObserver_;
};

}  // namespace loomset
