// The library's dispatcher: takes the hit models trackers hand over, applies the last drop rules
// (opt-out, sampling), numbers the hits per tracking id ("&_s"), stores them in the hit store, and
// sends stored hits to the collector: one small hit as a GET to "/collect", anything else as a
// POST, several hits in one gzip body to "/batch". Sending runs on a timer (first one second after
// creation, then every `dispatchInterval` seconds while the collector is reachable and hits are
// waiting) or on request. A batch refused with 302, 404 or 502 makes it send hits one by one for
// `batchRetryInterval` seconds. Any HTTP answer to a hit deletes it; a failed connection keeps it
// for a later try; hits older than `maxHitAge` are deleted unsent.
//
// When an ad-attribution provider is registered, the first hits within a day of the first start
// also trigger the one-time install-campaign hit per tracking id.
//
// Ownership: the facade owns the one dispatcher of the process; the dispatcher owns its timers,
// its reachability checker and the request in flight, and shares the hit store with the tracker
// models.
//
// Threads: every public operation may be called from any thread and returns without waiting for
// the worker thread; the dispatcher's state lives on its worker loop (`PLU::thread()` unless given
// another). Completion handlers and will-dispatch observers run on the worker loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Library/Util/http/HttpClient.h"
#include "Library/Util/platform/Mutex.h"
#include "analytics/store/PLUDataStore.h"
#include "analytics/dispatch/PLUDispatcher.h"
#include "analytics/dispatch/PLUReachabilityChecker.h"
#include "loomset/platform/PLUAdAttribution.h"
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

  // Everything the dispatcher works with. Empty fields take the library's defaults.
  struct Options {
    // Clock, device (user agent), data directory (user defaults), main loop (reachability) and
    // background executor. Default: the bundle in force.
    std::shared_ptr<const Platform> platform;
    // Default: `PLU::thread()`.
    std::shared_ptr<EventLoop> worker;
    // Hit numbers and the install-campaign flag. Default: the shared properties store.
    std::shared_ptr<PLUAnalyticsPropertiesStore> propertiesStore;
    // Default: `HttpClient::shared()`.
    std::shared_ptr<HttpClient> httpClient;
    // Default: `PLUCollectorEndpoints::shared()`.
    std::optional<PLUCollectorEndpoints> endpoints;
    // How the collector host is watched. Default: `kDefaultReachabilityApi()`.
    std::optional<PLUReachabilityApi> reachabilityApi;
    // "PLUFirstInitTimeStamp" and "PLUCampaignInfoIAd". Default: those of the platform's Library
    // directory (none without a data directory).
    std::shared_ptr<PLUUserDefaults> userDefaults;
    // Default: `PLUAdAttributionProvider::shared()`.
    std::shared_ptr<const PLUAdAttributionProvider> attribution;
    // Hands the install-campaign hit to a tracker of its tracking id. Default: the shared facade's
    // tracker, on the platform's background executor (never on the worker, whose callers may hold
    // that tracker's lock).
    std::function<void(const PLUHitMap& hit)> sendCampaignHit;
    Tuning tuning;
  };

  // A dispatcher over a new hit store (`PLUDataStore::dataStore()`), with the defaults.
  static std::shared_ptr<PLUBatchingDispatcher> dispatcher();
  // Null, with an error logged, without a hit store.
  static std::shared_ptr<PLUBatchingDispatcher> create(std::shared_ptr<PLUDataStore> dataStore,
                                                       Options options);
  static std::shared_ptr<PLUBatchingDispatcher> create(std::shared_ptr<PLUDataStore> dataStore);
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

  // Numbers, stamps and stores a built hit map (dropped while opted out). A "timestamp" entry
  // (seconds since 1970, `plu_formatHitTime`) is taken out and used as the hit's time.
  void queueDispatch(PLUHitMap hit);

  // Points the dispatcher at other collection hosts, and watches the new secure host.
  void setCollectorEndpoints(PLUCollectorEndpoints endpoints);

  // PLUReachabilityDelegate: any status but "not reachable" lets hits go.
  void reachability(PLUReachabilityChecker& checker, std::int32_t status) override;

  // "PLUWillDispatchNotification": called on the worker loop before each request. The observer
  // stays registered while the returned token lives.
  using WillDispatchObserver = std::function<void(PLUBatchingDispatcher& dispatcher)>;
  std::shared_ptr<void> addWillDispatchObserver(WillDispatchObserver observer);

  const std::shared_ptr<PLUDataStore>& hitStore() const { return store_; }
  const std::shared_ptr<EventLoop>& worker() const { return worker_; }
  const Tuning& tuning() const { return tuning_; }

  struct Passkey {
   private:
    Passkey() = default;
    friend class PLUBatchingDispatcher;
  };
  PLUBatchingDispatcher(Passkey, std::shared_ptr<PLUDataStore> dataStore, Options options);

 private:
  struct PendingRequest;
  struct Observers;

  void start();
  // Runs `work` on the worker loop: inline when already there, else posted.
  void onWorker(std::function<void(PLUBatchingDispatcher&)> work);

  // Worker-loop steps.
  void queueDispatchOnWorker(PLUHitMap hit);
  void persist(PLUStoredHit hit);
  void saveQueuedHits();
  void dispatchOnWorker(Completion handler);
  std::vector<PLUStoredHit> nextPendingHits();
  std::vector<PLUStoredHit> hitsForDispatch(std::vector<std::string>* texts);
  void didSendHits(const std::vector<PLUStoredHit>& hits, const PLUURLConnectionResult& result,
                   const Completion& handler);
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
  const std::shared_ptr<PLUDataStore> store_;
  const std::shared_ptr<const Platform> platform_;
  const std::shared_ptr<EventLoop> worker_;
  const std::shared_ptr<HttpClient> httpClient_;
  const std::shared_ptr<PLUUserDefaults> userDefaults_;
  const std::shared_ptr<const PLUAdAttributionProvider> attribution_;
  const std::function<void(const PLUHitMap&)> sendCampaignHit_;
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
  std::shared_ptr<PLUAnalyticsPropertiesStore> propertiesStore_;  // the shared one when not given
  PLUCollectorEndpoints endpoints_;
  std::shared_ptr<PLUReachabilityChecker> reachability_;
  bool serverBatchingDisabled_ = false;
  double batchFailedTime_ = 0;  // seconds since 1970
  std::shared_ptr<PLUURLConnection> connection_;
  std::shared_ptr<TimerHandle> timer_;
  std::shared_ptr<TimerHandle> initialTimer_;
  bool savePending_ = false;
  std::set<std::string> iAdCampaignTrackerIdCache_;
};

// The install-campaign hit for a triggering hit, dated at the first start (seconds since 1970):
// its "&cid", "&tid" and application and advertising fields, as a non-interaction "data" hit with
// campaign source "iAd". Nothing without "&cid" and "&tid".
std::optional<PLUHitMap> plu_buildIAdCampaignHit(const PLUHitMap& hit, double firstStartSeconds);

}  // namespace loomset
