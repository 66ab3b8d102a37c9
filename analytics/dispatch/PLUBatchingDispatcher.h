// The library's dispatcher: takes the hit models trackers hand over, applies the last drop rules
// (opt-out, sampling), numbers the hits per tracking id ("&_s"), stores them in the hit store, and
// sends stored hits to the collector: one small hit as a GET to "/collect", anything else as a
// POST, several hits in one gzip body to "/batch". Sending runs on a timer (first one second after
// creation, then every `dispatchInterval` seconds while the collector is reachable and hits are
// waiting) or on request. A batch refused with 302, 404 or 502 makes it send hits one by one for
// `batchRetryInterval` seconds. Any HTTP answer to a hit deletes it; a failed connection keeps it
// for a later try; hits older than `maxHitAge` are deleted unsent.
//
// When the platform bundle carries an ad-attribution provider, the first hits within a day of the
// first start also trigger the one-time install-campaign hit per tracking id.
//
// Everything the dispatcher works with comes from the context it is made with: the platform
// bundle (clock, device for the user agent, HTTP client, attribution provider, reachability
// watchers), the worker loop, the hit store, the properties store, the user defaults, the
// collection endpoints and the route of the campaign hit back to the facade's trackers.
//
// Ownership: the facade owns the one dispatcher of the process; the dispatcher owns its timers,
// its reachability checker and the request in flight, and shares the hit store with the tracker
// models.
//
// Threads: every public operation may be called from any thread and returns without waiting for
// the worker thread; the dispatcher's state lives on its worker loop (the context's). Completion
// handlers and will-dispatch observers run on the platform bundle's main loop, never on the
// worker, so that they may read trackers and the store.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Library/Util/platform/Mutex.h"
#include "analytics/PLUContext.h"
#include "analytics/dispatch/PLUDispatcher.h"
#include "analytics/dispatch/PLUReachabilityChecker.h"
#include "analytics/store/PLUDataStore.h"
#include "loomset/PLUCollectorEndpoints.h"

namespace loomset {

class EventLoop;
class PLUAnalyticsPropertiesStore;
class PLURequestBuilder;
class PLUURLConnection;
class PLUUserDefaults;
class TimerHandle;
struct Platform;
struct PLUURLConnectionResult;

class PLUBatchingDispatcher final : public PLUDispatcher,
                                    public PLUReachabilityDelegate,
                                    public std::enable_shared_from_this<PLUBatchingDispatcher> {
 public:
  static constexpr double kDefaultDispatchInterval = 120;
  static constexpr double kInitialDispatchDelay = 1;
  static constexpr std::size_t kMaxGetSizeBytes = 2000;

  // The sending rules; the defaults are the library's.
  struct Tuning {
    std::uint32_t maxHitsPerDispatch = 20;
    double maxHitAge = 2592000;        // seconds (30 days)
    std::uint32_t maxBodySize = 8192;  // bytes; 0: no limit
    std::uint32_t maxHitSize = 8192;   // bytes; 0: no limit
    unsigned batchingStrategy = 2;     // PLUBatchingStrategy: cut at the largest time gap
    unsigned compressionStrategy = 2;  // PLURequestBuilder::Compression: gzip
    double batchRetryInterval = 3600;  // seconds
  };

  struct Options {
    // Needs a hit store. The rest is completed from its platform bundle (the bundle in force
    // when it has none): `PLUContext::completed`. Without a campaign sender, no install-campaign
    // hit goes out.
    PLUContext context;
    // How the collector host is watched. Default: over the platform bundle's watchers.
    std::optional<PLUReachabilityApi> reachabilityApi;
    Tuning tuning;
  };

  // Null, with an error logged, without a hit store.
  static std::shared_ptr<PLUBatchingDispatcher> create(Options options);
  ~PLUBatchingDispatcher() override;

  // PLUDispatcher.
  void queueModel(PLUTrackerModel model) override;
  void dispatch() override;
  void dispatchWithCompletionHandler(Completion handler) override;
  double dispatchInterval() override;
  void setDispatchInterval(double seconds) override;
  bool optOut() override;
  void setOptOut(bool optOut) override;
  // Sets the process-wide switch of `PLUURLConnection`.
  void setDryRun(bool dryRun) override;
  std::shared_ptr<PLUClientProperties> dataStore() override { return store_; }
  // Dispatches one after the other on the worker; a request already in flight is waited for
  // first. Each dispatch is reported as any other.
  void flush(std::shared_ptr<PLUFlushRun> run) override;

  // Numbers, stamps and stores a built hit map (dropped while opted out). A "timestamp" entry
  // (seconds since 1970, `plu_formatHitTime`) is taken out and used as the hit's time.
  void queueDispatch(PLUHitMap hit);

  // Points the dispatcher at other collection hosts, and watches the new secure host.
  void setCollectorEndpoints(PLUCollectorEndpoints endpoints);

  // PLUReachabilityDelegate: any status but "not reachable" lets hits go.
  void reachability(PLUReachabilityChecker& checker, std::int32_t status) override;

  // "PLUWillDispatchNotification": posted to the main loop before each request. The observer
  // stays registered while the returned token lives.
  using WillDispatchObserver = std::function<void(PLUBatchingDispatcher& dispatcher)>;
  std::shared_ptr<void> addWillDispatchObserver(WillDispatchObserver observer);

  const std::shared_ptr<PLUDataStore>& hitStore() const { return store_; }
  const PLUContext& context() const { return context_; }
  const std::shared_ptr<EventLoop>& worker() const { return worker_; }
  const Tuning& tuning() const { return tuning_; }

  struct Passkey {
   private:
    Passkey() = default;
    friend class PLUBatchingDispatcher;
  };
  PLUBatchingDispatcher(Passkey, Options options);

 private:
  struct PendingRequest;
  struct Observers;
  // What the worker steps hand on when a dispatch ends.
  using ReportHandler = std::function<void(const PLUDispatchReport& report)>;

  void start();
  // Runs `work` on the worker loop: inline when already there, else posted.
  void onWorker(std::function<void(PLUBatchingDispatcher&)> work);

  // Worker-loop steps.
  void queueDispatchOnWorker(PLUHitMap hit);
  void persist(PLUStoredHit hit);
  void saveQueuedHits();
  void dispatchOnWorker(ReportHandler handler);
  std::vector<PLUStoredHit> nextPendingHits();
  std::vector<PLUStoredHit> hitsForDispatch(std::vector<std::string>* texts);
  void didSendHits(const std::vector<PLUStoredHit>& hits, const PLUURLConnectionResult& result,
                   const ReportHandler& handler);
  // Completes the report (stale hits deleted on the way, hits kept, time), hands it to the
  // context's observers when the dispatch did anything, then to `handler`.
  void endDispatch(PLUDispatchReport report, const ReportHandler& handler);
  void flushStep(const std::shared_ptr<PLUFlushRun>& run);
  // False when the store could not delete them.
  bool deleteHits(const std::vector<PLUStoredHit>& hits);
  void deleteAllHits();
  void rescheduleDispatch();
  void cancelDispatch();
  void initialDispatch();
  void timerFired();
  bool canDispatch() EXCLUDES(mu_);
  bool canScheduleDispatch();
  void setHasHits(bool hasHits) EXCLUDES(mu_);
  void setHostReachable(bool reachable) EXCLUDES(mu_);
  void watchCollectorHost();
  Completion defaultCompletionHandler();
  void postWillDispatch();

  // Install-campaign steps (PLUBatchingDispatcherCampaign.cc).
  void checkIAdCampaignAttributionWithHitParameters(const PLUHitMap& hit);
  void handleCampaignResult(bool attributed, const PLUHitMap& campaignHit);
  void sendIAdCampaignHit(const PLUHitMap& campaignHit);

  // Constant after construction.
  const PLUContext context_;
  const std::shared_ptr<PLUDataStore> store_;
  const std::shared_ptr<const Platform> platform_;
  const std::shared_ptr<EventLoop> worker_;
  const std::shared_ptr<PLUAnalyticsPropertiesStore> propertiesStore_;
  const std::optional<PLUReachabilityApi> reachabilityApi_;
  const Tuning tuning_;
  const std::unique_ptr<PLURequestBuilder> requestBuilder_;
  const std::shared_ptr<Observers> observers_;

  // Read from any thread: the has-hits lock.
  mutable Mutex mu_;
  double dispatchInterval_ GUARDED_BY(mu_) = kDefaultDispatchInterval;
  bool hasHits_ GUARDED_BY(mu_) = true;
  bool optOut_ GUARDED_BY(mu_) = false;
  bool hostReachable_ GUARDED_BY(mu_) = true;

  // Worker-loop state.
  PLUCollectorEndpoints endpoints_;
  std::shared_ptr<PLUReachabilityChecker> reachability_;
  bool serverBatchingDisabled_ = false;
  double batchFailedTime_ = 0;  // seconds since 1970
  std::shared_ptr<PLUURLConnection> connection_;
  std::shared_ptr<TimerHandle> timer_;
  std::shared_ptr<TimerHandle> initialTimer_;
  bool savePending_ = false;
  // Hits deleted as too old while the current dispatch looked for hits to send.
  std::size_t staleDeleted_ = 0;
  // Run when the request in flight has completed (flushes waiting for their turn).
  std::vector<std::function<void()>> afterRequest_;
  std::set<std::string> iAdCampaignTrackerIdCache_;
};

// The install-campaign hit for a triggering hit, dated at the first start (seconds since 1970):
// its "&cid", "&tid" and application and advertising fields, as a non-interaction "data" hit with
// campaign source "iAd". Nothing without "&cid" and "&tid".
std::optional<PLUHitMap> plu_buildIAdCampaignHit(const PLUHitMap& hit, double firstStartSeconds);

}  // namespace loomset
