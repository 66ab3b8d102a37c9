#include "analytics/dispatch/PLUBatchingDispatcher.h"

#include <cmath>
#include <map>

#include "Library/Util/platform/GuardedBlock.h"
#include "analytics/PLULog.h"
#include "analytics/PLUUserDefaults.h"
#include "analytics/dispatch/PLUBatching.h"
#include "analytics/dispatch/PLUFlushRun.h"
#include "analytics/dispatch/PLUHitRequest.h"
#include "analytics/dispatch/PLUPayload.h"
#include "analytics/dispatch/PLUURLConnection.h"
#include "analytics/model/PLUSampling.h"
#include "analytics/store/PLUAnalyticsPropertiesStore.h"
#include "analytics/store/PLUError.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/EventLoop.h"
#include "loomset/platform/Platform.h"

namespace loomset {

struct PLUBatchingDispatcher::Observers {
  Mutex mu;
  std::uint64_t nextId GUARDED_BY(mu) = 0;
  std::map<std::uint64_t, WillDispatchObserver> entries GUARDED_BY(mu);
};

namespace {

bool hasError(const PLUError& error) {
  return !error.domain.empty() || error.code != 0;
}

std::string describeError(const PLUError& error) {
  return PLUUtil::descriptionFromError(&error).value_or("unknown error");
}

std::string describeHit(const PLUHitMap& hit) {
  std::string text = "{";
  for (const auto& [key, value] : hit) {
    if (text.size() > 1) text += "; ";
    text += key + " = " + (value ? *value : std::string("<null>"));
  }
  return text + "}";
}

bool usesPlainHttp(const PLUStoredHit& hit) {
  const auto it = hit.parameters.find(kPLUUseSecure);
  return it != hit.parameters.end() && it->second && *it->second == kPLUHitFormatFalse;
}

}  // namespace

std::shared_ptr<PLUBatchingDispatcher> PLUBatchingDispatcher::create(Options options) {
  if (!options.context.hitStore) {
    PLU_LOG_ERROR("Cannot create a dispatcher without a hit store.");
    return nullptr;
  }
  auto dispatcher = std::make_shared<PLUBatchingDispatcher>(Passkey(), std::move(options));
  dispatcher->start();
  return dispatcher;
}

PLUBatchingDispatcher::PLUBatchingDispatcher(Passkey, Options options)
    : context_(options.context.completed()),
      store_(context_.hitStore),
      platform_(context_.platform),
      worker_(context_.worker),
      propertiesStore_(context_.propertiesStore),
      reachabilityApi_(std::move(options.reachabilityApi)),
      tuning_(options.tuning),
      requestBuilder_(
          std::make_unique<PLURequestBuilder>(PLURequestBuilder::userAgentFor(platform_->device))),
      observers_(std::make_shared<Observers>()),
      endpoints_(context_.endpoints) {
  // A hit's number is committed no later than the hit itself, whoever saves the hit store.
  if (store_ && propertiesStore_) {
    store_->setWillCommit(
        [properties = std::weak_ptr<PLUAnalyticsPropertiesStore>(propertiesStore_)] {
          if (auto store = properties.lock()) store->commitPendingWrites();
        });
  }
}

PLUBatchingDispatcher::~PLUBatchingDispatcher() {
  // Nothing else holds the dispatcher now, so its worker state is ours to tear down.
  if (initialTimer_) initialTimer_->cancel();
  if (timer_) timer_->cancel();
  if (reachability_) {
    reachability_->setDelegate({});
    reachability_->stop();
  }
  if (connection_) connection_->cancel();
}

void PLUBatchingDispatcher::start() {
  onWorker([](PLUBatchingDispatcher& self) {
    self.watchCollectorHost();
    // The periodic timer runs from the start too: otherwise a first dispatch that fails while
    // hits stay stored would leave nothing to try again.
    self.rescheduleDispatch();
    self.initialDispatch();
  });
}

void PLUBatchingDispatcher::onWorker(std::function<void(PLUBatchingDispatcher&)> work) {
  if (worker_->isCurrent()) {
    work(*this);
    return;
  }
  later(std::move(work));
}

void PLUBatchingDispatcher::later(std::function<void(PLUBatchingDispatcher&)> work) {
  // The drain that runs the step holds the dispatcher; the step itself does not, so that the
  // queue inside the dispatcher never holds the dispatcher.
  const bool idle = intake_.pushStep([weakSelf = weak_from_this(), work = std::move(work)] {
    if (auto self = weakSelf.lock()) work(*self);
  });
  if (idle) startDrain();
}

void PLUBatchingDispatcher::inTurn(std::function<void(PLUBatchingDispatcher&)> work) {
  if (intake_.busy()) {
    later(std::move(work));
  } else {
    work(*this);
  }
}

void PLUBatchingDispatcher::startDrain() {
  worker_->post([self = shared_from_this()] { self->drainIntake(); });
}

void PLUBatchingDispatcher::drainIntake() {
  // Until the queue is empty: work posted to the loop after a hit was handed over (a caller
  // waiting for the worker, say) runs after that hit, as it did when every hit was a task of the
  // loop.
  // Each entry is guarded on its own, as each loop task is: a failing step must not strand the
  // entries behind it.
  while (std::optional<PLUHitIntake::Entry> entry = intake_.pop()) {
    if (entry->step) {
      runBlockGuarded(worker_->name(), entry->step);
    } else {
      runBlockGuarded(worker_->name(), [this, &entry] {
        PLUTrackerModel model = entry->model.unpack();
        queueModelOnWorker(model, !entry->model.isThinned());
      });
    }
  }
}

// Queueing.

// Opt-out is decided when the hit is handed over: a hit sent while opted out is never stored,
// even when opt-out is turned off before the worker reaches it. A hit handed over before opt-out
// was turned on is dropped too when the worker finds opt-out on (the deletion of the stored hits
// is queued behind it anyway).
void PLUBatchingDispatcher::queueModel(PLUTrackerModel model) {
  if (optOut()) return;
  if (worker_->isCurrent()) {
    queueModelOnWorker(model, true);
    return;
  }
  if (intake_.pushHit(PLUPackedModel(model), store_->maxHitCount(), tuning_.maxHitsPerDispatch)) {
    startDrain();
  }
}

void PLUBatchingDispatcher::queueModelOnWorker(PLUTrackerModel& model, bool keep) {
  auto hit = plu_buildHitForStorage(model, optOut());
  if (hit) queueDispatchOnWorker(std::move(*hit), keep);
}

// Ready-made hits are sampled as the tracker's are ("&sf" and the client id decide).
void PLUBatchingDispatcher::queueDispatch(PLUHitMap hit) {
  if (optOut()) return;
  if (PLUSampling::shouldSampleOut(hit)) return;
  auto shared = std::make_shared<PLUHitMap>(std::move(hit));
  onWorker(
      [shared](PLUBatchingDispatcher& self) { self.queueDispatchOnWorker(std::move(*shared)); });
}

void PLUBatchingDispatcher::queueDispatchOnWorker(PLUHitMap hit, bool keep) {
  if (optOut()) return;
  const auto tid = hit.find(kPLUTrackingId);
  if (tid != hit.end() && tid->second && !tid->second->empty()) {
    if (propertiesStore_) {
      const auto cid = hit.find(kPLUClientId);
      const std::string clientId = cid != hit.end() && cid->second ? *cid->second : std::string();
      if (auto number = propertiesStore_->nextHitNumberForTrackingId(*tid->second, clientId)) {
        hit[kPLUHitNumber] = std::move(*number);
      }
    }
  }

  PLUStoredHit stored;
  const auto timestamp = hit.find("timestamp");
  if (timestamp != hit.end()) {
    if (timestamp->second) stored.timestamp = plu_parseHitTime(*timestamp->second);
    if (!stored.timestamp) {
      PLU_LOG_WARNING("Ignoring unreadable hit time: " + timestamp->second.value_or("<null>"));
    }
    hit.erase(timestamp);
  }
  if (!stored.timestamp) stored.timestamp = platform_->clock->nowSeconds();
  stored.parameters = std::move(hit);
  persist(stored, keep);
  checkIAdCampaignAttributionWithHitParameters(stored.parameters);
}

void PLUBatchingDispatcher::persist(const PLUStoredHit& hit, bool keep) {
  if (keep) {
    store_->addHit(hit);
    PLU_LOG_VERBOSE("Saved hit: " + describeHit(hit.parameters));
  }
  setHasHits(true);
  // Hits queued in one burst are made durable by one save, after the last of them: the save is
  // queued behind the queueing work already waiting.
  if (savePending_) return;
  savePending_ = true;
  later([](PLUBatchingDispatcher& self) { self.saveQueuedHits(); });
}

void PLUBatchingDispatcher::saveQueuedHits() {
  savePending_ = false;
  PLUError error;
  if (!store_->save(&error) && hasError(error)) {
    PLU_LOG_ERROR("Failed to save hit: " + describeError(error));
  }
}

// Switches.

double PLUBatchingDispatcher::dispatchInterval() {
  MutexLock lock(mu_);
  return dispatchInterval_;
}

void PLUBatchingDispatcher::setDispatchInterval(double seconds) {
  {
    MutexLock lock(mu_);
    if (dispatchInterval_ == seconds) return;
    dispatchInterval_ = seconds;
  }
  onWorker([](PLUBatchingDispatcher& self) { self.rescheduleDispatch(); });
}

bool PLUBatchingDispatcher::optOut() {
  MutexLock lock(mu_);
  return optOut_;
}

void PLUBatchingDispatcher::setOptOut(bool optOut) {
  bool turnedOn = false;
  {
    MutexLock lock(mu_);
    turnedOn = optOut && !optOut_;
    optOut_ = optOut;
  }
  if (turnedOn) onWorker([](PLUBatchingDispatcher& self) { self.deleteAllHits(); });
}

void PLUBatchingDispatcher::setDryRun(bool dryRun) {
  PLUURLConnection::setDryRun(dryRun);
}

void PLUBatchingDispatcher::setCollectorEndpoints(PLUCollectorEndpoints endpoints) {
  auto shared = std::make_shared<PLUCollectorEndpoints>(std::move(endpoints));
  onWorker([shared](PLUBatchingDispatcher& self) {
    const bool newHost = shared->secureHost() != self.endpoints_.secureHost();
    self.endpoints_ = *shared;
    if (newHost) self.watchCollectorHost();
  });
}

std::shared_ptr<void> PLUBatchingDispatcher::addWillDispatchObserver(
    WillDispatchObserver observer) {
  std::uint64_t id = 0;
  {
    MutexLock lock(observers_->mu);
    id = observers_->nextId++;
    observers_->entries.emplace(id, std::move(observer));
  }
  std::weak_ptr<Observers> weakObservers = observers_;
  return std::shared_ptr<void>(nullptr, [weakObservers, id](void*) {
    if (auto observers = weakObservers.lock()) {
      MutexLock lock(observers->mu);
      observers->entries.erase(id);
    }
  });
}

void PLUBatchingDispatcher::postWillDispatch() {
  std::vector<WillDispatchObserver> observers;
  {
    MutexLock lock(observers_->mu);
    for (const auto& entry : observers_->entries) observers.push_back(entry.second);
  }
  if (observers.empty()) return;
  // Application code: on the main loop, never on the worker, which it may wait for.
  platform_->mainLoop->post([self = shared_from_this(), observers = std::move(observers)] {
    for (const auto& observer : observers) observer(*self);
  });
}

// Scheduling.

bool PLUBatchingDispatcher::canDispatch() {
  MutexLock lock(mu_);
  return hostReachable_ && hasHits_;
}

bool PLUBatchingDispatcher::canScheduleDispatch() {
  return dispatchInterval() > 0 && canDispatch();
}

void PLUBatchingDispatcher::setHasHits(bool hasHits) {
  {
    MutexLock lock(mu_);
    if (hasHits_ == hasHits) return;
    hasHits_ = hasHits;
  }
  rescheduleDispatch();
}

void PLUBatchingDispatcher::setHostReachable(bool reachable) {
  {
    MutexLock lock(mu_);
    if (hostReachable_ == reachable) return;
    hostReachable_ = reachable;
  }
  rescheduleDispatch();
}

void PLUBatchingDispatcher::reachability(PLUReachabilityChecker&, std::int32_t status) {
  const bool reachable = status != kPLUReachabilityNotReachable;
  onWorker([reachable](PLUBatchingDispatcher& self) { self.setHostReachable(reachable); });
}

void PLUBatchingDispatcher::watchCollectorHost() {
  if (reachability_) {
    reachability_->setDelegate({});
    reachability_->stop();
    reachability_.reset();
  }
  // A new host starts out reachable until its watch says otherwise.
  setHostReachable(true);
  std::weak_ptr<PLUReachabilityDelegate> delegate = shared_from_this();
  reachability_ = PLUReachabilityChecker::create(delegate, endpoints_.secureHost(), platform_);
  if (!reachability_) return;
  if (reachabilityApi_) reachability_->setReachabilityApi(*reachabilityApi_);
  if (!reachability_->start()) {
    PLU_LOG_WARNING("Unable to watch the reachability of " + endpoints_.secureHost() +
                    "; dispatching regardless.");
  }
}

void PLUBatchingDispatcher::cancelDispatch() {
  if (initialTimer_) initialTimer_->cancel();
  initialTimer_.reset();
  if (timer_) timer_->cancel();
  timer_.reset();
}

void PLUBatchingDispatcher::rescheduleDispatch() {
  cancelDispatch();
  if (!canScheduleDispatch()) return;
  timer_ = worker_->postRepeating(dispatchInterval(), [weakSelf = weak_from_this()] {
    if (auto self = weakSelf.lock()) {
      self->inTurn([](PLUBatchingDispatcher& me) { me.timerFired(); });
    }
  });
}

void PLUBatchingDispatcher::initialDispatch() {
  initialTimer_ = worker_->postAfter(kInitialDispatchDelay, [weakSelf = weak_from_this()] {
    if (auto self = weakSelf.lock()) {
      self->inTurn([](PLUBatchingDispatcher& me) { me.timerFired(); });
    }
  });
}

void PLUBatchingDispatcher::timerFired() {
  if (canScheduleDispatch()) dispatch();
}

// Dispatching.

PLUDispatcher::Completion PLUBatchingDispatcher::defaultCompletionHandler() {
  // Drains the store batch after batch. The next dispatch is posted rather than run inside this
  // one, so a long run of requests that cannot be built never deepens the stack.
  return [weakSelf = weak_from_this()](PLUDispatchOutcome outcome) {
    if (outcome != kPLUDispatchSent) return;
    auto self = weakSelf.lock();
    if (!self) return;
    self->later([](PLUBatchingDispatcher& me) { me.dispatch(); });
  };
}

void PLUBatchingDispatcher::dispatch() {
  dispatchWithCompletionHandler(nullptr);
}

void PLUBatchingDispatcher::dispatchWithCompletionHandler(Completion handler) {
  Completion current;
  if (handler) {
    setDispatchInterval(-1);
    // The application's handler runs on the main loop, never on the worker: a handler that
    // reads a tracker or the store waits for the worker.
    current = [mainLoop = platform_->mainLoop,
               handler = std::make_shared<Completion>(std::move(handler))](PLUDispatchOutcome o) {
      mainLoop->post([handler, o] { (*handler)(o); });
    };
  } else {
    current = defaultCompletionHandler();
  }
  auto shared = std::make_shared<Completion>(std::move(current));
  onWorker([shared](PLUBatchingDispatcher& self) {
    self.dispatchOnWorker([shared](const PLUDispatchReport& report) { (*shared)(report.outcome); });
  });
}

void PLUBatchingDispatcher::dispatchOnWorker(ReportHandler handler) {
  staleDeleted_ = 0;
  if (!canDispatch()) {
    endDispatch({}, handler);
    return;
  }
  const double now = platform_->clock->nowSeconds();
  if (serverBatchingDisabled_ && now - batchFailedTime_ > tuning_.batchRetryInterval) {
    serverBatchingDisabled_ = false;
  }
  // One request at a time; its hits are still stored, so they must not go out twice.
  if (connection_) {
    endDispatch({}, handler);
    return;
  }
  std::vector<std::string> texts;
  std::vector<PLUStoredHit> hits = hitsForDispatch(&texts);
  if (hits.empty()) {
    setHasHits(false);
    endDispatch({}, handler);
    return;
  }
  postWillDispatch();

  const bool secure = !usesPlainHttp(hits.front());
  const bool single = hits.size() == 1;
  const std::string url = single
                              ? (secure ? endpoints_.httpsUrl() : endpoints_.httpUrl())
                              : (secure ? endpoints_.httpsBatchUrl() : endpoints_.httpBatchUrl());
  const std::string payload = plu_buildPayload(texts, tuning_.maxHitSize);

  std::optional<HttpRequest> request;
  // An empty payload means every hit was too large to send: nothing useful can go out for them.
  const bool fits = tuning_.maxBodySize == 0 || payload.size() <= tuning_.maxBodySize;
  if (!payload.empty() && fits) {
    if (single && payload.size() < kMaxGetSizeBytes) {
      request = requestBuilder_->requestGetUrl(url, payload);
    } else {
      request = requestBuilder_->requestPostUrl(
          url, payload, single ? PLURequestBuilder::kCompressionNone : tuning_.compressionStrategy);
    }
    if (request && tuning_.maxBodySize != 0 && request->body.size() > tuning_.maxBodySize) {
      request.reset();
    }
  }
  if (!request) {
    PLU_LOG_ERROR("Failed to generate request for hit(s).");
    deleteHits(hits);
    PLUDispatchReport report;
    report.outcome = kPLUDispatchSent;
    report.hitsDeleted = hits.size();
    endDispatch(std::move(report), handler);
    return;
  }

  platform_->httpSettings.applyTo(*request);
  PLU_LOG_VERBOSE("Sending hit(s) " + request->method + ": " + request->url);
  auto sentHits = std::make_shared<std::vector<PLUStoredHit>>(std::move(hits));
  auto sharedHandler = std::make_shared<ReportHandler>(std::move(handler));
  connection_ = PLUURLConnection::create(
      std::move(*request), worker_,
      [weakSelf = weak_from_this(), sentHits, sharedHandler](const PLUURLConnectionResult& result) {
        auto self = weakSelf.lock();
        if (!self) return;
        self->inTurn([sentHits, sharedHandler, result](PLUBatchingDispatcher& me) {
          me.didSendHits(*sentHits, result, *sharedHandler);
        });
      },
      platform_->http);
  connection_->start();
}

std::vector<PLUStoredHit> PLUBatchingDispatcher::nextPendingHits() {
  for (;;) {
    const double cutoff = platform_->clock->nowSeconds() - tuning_.maxHitAge;
    PLUError error;
    std::vector<PLUStoredHit> hits = store_->fetchHitsWithLimit(tuning_.maxHitsPerDispatch, &error);
    if (hits.empty()) {
      if (hasError(error)) PLU_LOG_ERROR("Failed to load pending hits: " + describeError(error));
      return hits;
    }
    std::vector<PLUStoredHit> stale;
    std::vector<PLUStoredHit> fresh;
    for (auto& hit : hits) {
      (hit.timestamp && *hit.timestamp <= cutoff ? stale : fresh).push_back(std::move(hit));
    }
    if (stale.empty()) return fresh;
    // A store that cannot delete would hand the same stale hits back forever.
    if (!deleteHits(stale)) return fresh;
    staleDeleted_ += stale.size();
  }
}

std::vector<PLUStoredHit> PLUBatchingDispatcher::hitsForDispatch(std::vector<std::string>* texts) {
  std::vector<PLUStoredHit> pending = nextPendingHits();
  if (pending.empty()) {
    PLU_LOG_INFO("No pending hits.");
    return pending;
  }
  const double now = platform_->clock->nowSeconds();
  if (tuning_.batchingStrategy == kPLUBatchingNone || serverBatchingDisabled_) {
    pending.resize(1);
    texts->push_back(plu_parametersForHit(pending.front(), now));
    return pending;
  }
  // One request never mixes plain and secure hits.
  const bool plain = usesPlainHttp(pending.front());
  std::vector<PLUStoredHit> hits;
  for (auto& hit : pending) {
    if (usesPlainHttp(hit) == plain) hits.push_back(std::move(hit));
  }
  std::vector<PLUBatchCandidate> candidates;
  std::vector<std::string> allTexts;
  for (const auto& hit : hits) {
    allTexts.push_back(plu_parametersForHit(hit, now));
    PLUBatchCandidate candidate;
    candidate.encodedLength = allTexts.back().size();
    candidate.timestamp = hit.timestamp;
    const auto sc = hit.parameters.find(kPLUSessionControl);
    if (sc != hit.parameters.end()) candidate.sessionControl = sc->second;
    candidates.push_back(std::move(candidate));
  }
  std::optional<std::size_t> count =
      plu_batchCount(tuning_.batchingStrategy, candidates, tuning_.maxBodySize);
  if (!count) {
    PLU_LOG_ERROR("unexpected batch strategy: " + std::to_string(tuning_.batchingStrategy));
    count = 1;
  }
  const std::size_t n = std::min(std::max<std::size_t>(*count, 1), hits.size());
  hits.resize(n);
  allTexts.resize(n);
  *texts = std::move(allTexts);
  return hits;
}

void PLUBatchingDispatcher::didSendHits(const std::vector<PLUStoredHit>& hits,
                                        const PLUURLConnectionResult& result,
                                        const ReportHandler& handler) {
  PLUDispatchReport report;
  if (!result.response) {
    // Nothing reached the collector: the hits stay stored for the next timer tick.
    connection_.reset();
    PLU_LOG_INFO("Dispatch error: " + result.error.value_or("cancelled"));
    report.outcome = kPLUDispatchFailed;
    report.hitsFailed = hits.size();
    report.error = result.error.value_or("cancelled");
  } else if (const int status = result.response->status;
             hits.size() > 1 && !serverBatchingDisabled_ &&
             (status == 302 || status == 404 || status == 502)) {
    serverBatchingDisabled_ = true;
    batchFailedTime_ = platform_->clock->nowSeconds();
    PLU_LOG_INFO("Hit(s) not dispatched, falling back to non-batching mode: HTTP status " +
                 std::to_string(status));
    connection_.reset();
    report.outcome = kPLUDispatchFailed;
    report.hitsFailed = hits.size();
    report.httpStatus = status;
  } else {
    // Any answer of the collector to these hits is final: resending would not change it.
    deleteHits(hits);
    connection_.reset();
    PLU_LOG_INFO(std::to_string(hits.size()) + " hit(s) sent");
    PLU_LOG_INFO("Hit(s) dispatched: HTTP status " + std::to_string(status));
    report.outcome = kPLUDispatchSent;
    report.hitsSent = hits.size();
    report.httpStatus = status;
  }
  endDispatch(std::move(report), handler);
  std::vector<std::function<void()>> waiting;
  waiting.swap(afterRequest_);
  for (auto& resume : waiting) resume();
}

void PLUBatchingDispatcher::endDispatch(PLUDispatchReport report, const ReportHandler& handler) {
  // Stale hits deleted on the way change nothing in the outcome handlers hear.
  report.hitsDeleted += staleDeleted_;
  staleDeleted_ = 0;
  if (report.hitsSent != 0 || report.hitsDeleted != 0 || report.hitsFailed != 0) {
    report.hitsKept = store_->hitCount(nullptr);
    report.timeMillis = platform_->clock->nowMillis();
    if (context_.reportDispatch) context_.reportDispatch(report);
  }
  handler(report);
}

// Flushing.

void PLUBatchingDispatcher::flush(std::shared_ptr<PLUFlushRun> run) {
  onWorker([run](PLUBatchingDispatcher& self) {
    self.saveQueuedHits();
    // The store may hold hits the has-hits flag does not know of yet (an earlier run's); a count
    // that failed (-1) is no reason not to try.
    const std::int64_t stored = self.store_->hitCount(nullptr);
    self.setHasHits(stored != 0);
    run->setHitsLeft(stored);
    // Ends the run at its deadline even while a request holds it up; on the worker's clock.
    run->setDeadlineTimer(
        self.worker_->postAfter(run->secondsLeft(), [run] { run->finish(true); }));
    self.flushStep(run);
  });
}

void PLUBatchingDispatcher::flushStep(const std::shared_ptr<PLUFlushRun>& run) {
  if (run->finished()) return;
  if (run->deadlinePassed()) {
    run->finish(true);
    return;
  }
  if (connection_) {
    // Another dispatch's request is in flight: its hits are still stored and must not go twice.
    afterRequest_.push_back([weakSelf = weak_from_this(), run] {
      if (auto self = weakSelf.lock()) self->flushStep(run);
    });
    return;
  }
  dispatchOnWorker([weakSelf = weak_from_this(), run](const PLUDispatchReport& report) {
    run->addReport(report);
    auto self = weakSelf.lock();
    if (!self) {
      run->finish(false);
      return;
    }
    if (report.outcome == kPLUDispatchNothingToSend) {
      run->setHitsLeft(self->store_->hitCount(nullptr));
      run->finish(false);
      return;
    }
    // No answer at all: trying again at once would not get one. A refused batch is retried, as
    // the dispatcher now sends hits one by one.
    if (report.outcome == kPLUDispatchFailed && report.httpStatus == 0) {
      run->finish(false);
      return;
    }
    // Posted, so that a long run of batches never deepens the stack.
    self->worker_->post([weakSelf, run] {
      if (auto self = weakSelf.lock()) {
        self->flushStep(run);
      } else {
        run->finish(false);
      }
    });
  });
}

bool PLUBatchingDispatcher::deleteHits(const std::vector<PLUStoredHit>& hits) {
  std::vector<PLUHitObjectId> ids;
  ids.reserve(hits.size());
  for (const auto& hit : hits) ids.push_back(hit.objectID);
  const bool deleted = store_->deleteHitsWithIds(ids, nullptr);
  // A count that failed (-1) is no reason to stop trying.
  setHasHits(store_->hitCount(nullptr) != 0);
  PLU_LOG_INFO("hit(s) Successfully deleted");
  PLUError error;
  if (!store_->save(&error) && hasError(error)) {
    PLU_LOG_ERROR("Unable to save after deleting hit(s): " + describeError(error));
  }
  return deleted;
}

void PLUBatchingDispatcher::deleteAllHits() {
  PLUError error;
  if (!store_->deleteAllHits(&error) && hasError(error)) {
    PLU_LOG_ERROR("Failed to delete all hits for opt-out: " + describeError(error));
  }
  PLUError saveError;
  if (!store_->save(&saveError) && hasError(saveError)) {
    PLU_LOG_ERROR("Failed to save after updating opt-out property and deleting pending hits: " +
                  describeError(saveError));
  }
  setHasHits(false);
}

}  // namespace loomset
