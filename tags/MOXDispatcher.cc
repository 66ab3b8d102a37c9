#include "tags/MOXDispatcher.h"

#include <utility>

#include "Library/Util/MOXDispatchUtil.h"
#include "Library/Util/platform/NoDestructor.h"
#include "loomset/MOXLog.h"
#include "loomset/platform/Platform.h"
#include "tags/MOXPixelSendDecision.h"
#include "values/MOXValueEscapeUtil.h"

namespace loomset {
namespace {

constexpr double kTokens = 60;
constexpr double kSecondsPerToken = 2;
constexpr double kFirstFireDelaySeconds = 1;

struct Shared {
  Mutex mu;
  std::shared_ptr<MOXDispatcher> dispatcher GUARDED_BY(mu);
};

Shared& shared() {
  static NoDestructor<Shared> instance;
  return *instance;
}

}  // namespace

std::shared_ptr<MOXDispatcher> MOXDispatcher::instance() {
  Shared& s = shared();
  MutexLock lock(s.mu);
  if (!s.dispatcher) s.dispatcher = create();
  return s.dispatcher;
}

std::shared_ptr<MOXDispatcher> MOXDispatcher::existingInstance() {
  Shared& s = shared();
  MutexLock lock(s.mu);
  return s.dispatcher;
}

void MOXDispatcher::clearInstance() {
  std::shared_ptr<MOXDispatcher> dropped;
  Shared& s = shared();
  MutexLock lock(s.mu);
  dropped.swap(s.dispatcher);
}

std::shared_ptr<MOXDispatcher> MOXDispatcher::create(Options options) {
  const auto platform = Platform::current();
  if (!options.worker) options.worker = MOXDispatchUtil::sharedThread();
  if (!options.clock) options.clock = platform->clock;
  if (!options.store) {
    MOXDataProvider::Options storeOptions;
    storeOptions.worker = options.worker;
    storeOptions.clock = options.clock;
    options.store = MOXDataProvider::create(std::move(storeOptions));
  }
  if (!options.network) options.network = MOXPixelNetwork::createDefault();
  std::shared_ptr<MOXDispatcher> dispatcher(new MOXDispatcher(std::move(options)));
  dispatcher->start();
  return dispatcher;
}

MOXDispatcher::MOXDispatcher(Options options)
    : store_(std::move(options.store)),
      network_(std::move(options.network)),
      worker_(std::move(options.worker)),
      clock_(std::move(options.clock)),
      rateLimiter_(MOXRateLimiter::rateLimiterWithMaxTokens(kTokens, kSecondsPerToken, clock_)) {}

MOXDispatcher::~MOXDispatcher() {
  if (firstFire_) firstFire_->cancel();
  if (timer_) timer_->cancel();
}

void MOXDispatcher::start() {
  std::weak_ptr<MOXDispatcher> weakSelf = weak_from_this();
  store_->setHasHitsObserver([weakSelf](bool) {
    if (auto self = weakSelf.lock()) self->schedulingConditionChanged();
  });
  worker_->post([weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    self->firstFire_ = self->worker_->postAfter(kFirstFireDelaySeconds, [weakSelf] {
      if (auto again = weakSelf.lock()) again->timerFired();
    });
    self->schedulingConditionChanged();
  });
}

// ---- Storing ---------------------------------------------------------------------------------

void MOXDispatcher::sendHitToUrl(const std::string& url) {
  // Without a token the hit is dropped; the limiter has logged it.
  if (!rateLimiter_->tokenAvailable()) return;
  std::string hitUrl = url;
  {
    MutexLock lock(mu_);
    if (wrapperUrl_ && wrapperQueryParameter_) {
      hitUrl =
          *wrapperUrl_ + "?" + *wrapperQueryParameter_ + "=" + MOXValueEscapeUtil::urlEncode(url);
    }
  }
  MOXLog::verbose("Dispatch url: " + hitUrl);
  store_->addHitWithURLString(hitUrl);
}

void MOXDispatcher::setWrapper(std::optional<std::string> wrapperUrl,
                               std::optional<std::string> wrapperQueryParameter) {
  MutexLock lock(mu_);
  wrapperUrl_ = std::move(wrapperUrl);
  wrapperQueryParameter_ = std::move(wrapperQueryParameter);
}

// ---- Scheduling ------------------------------------------------------------------------------

double MOXDispatcher::dispatchInterval() const {
  MutexLock lock(mu_);
  return dispatchInterval_;
}

void MOXDispatcher::setDispatchInterval(double seconds) {
  {
    MutexLock lock(mu_);
    dispatchInterval_ = seconds;
  }
  std::weak_ptr<MOXDispatcher> weakSelf = weak_from_this();
  worker_->post([weakSelf] {
    if (auto self = weakSelf.lock()) self->schedulingConditionChanged();
  });
}

bool MOXDispatcher::canDispatch() const {
  return network_ && network_->isReachable() && store_->hasHits();
}

bool MOXDispatcher::canScheduleDispatch() const {
  return dispatchInterval() > 0 && canDispatch();
}

bool MOXDispatcher::timerWanted() const {
  return dispatchInterval() > 0 && store_->hasHits();
}

bool MOXDispatcher::hasTimer() const {
  return timerRunning_.load();
}

void MOXDispatcher::schedulingConditionChanged() {
  const bool wanted = timerWanted();
  const bool changed = wanted != timerWanted_;
  timerWanted_ = wanted;
  if (changed || (wanted && timerInterval_ != dispatchInterval())) rescheduleDispatch();
}

void MOXDispatcher::rescheduleDispatch() {
  if (firstFire_) firstFire_->cancel();
  firstFire_.reset();
  if (timer_) timer_->cancel();
  timer_.reset();
  timerRunning_.store(false);
  timerInterval_ = 0;
  if (!timerWanted()) return;
  timerInterval_ = dispatchInterval();
  std::weak_ptr<MOXDispatcher> weakSelf = weak_from_this();
  timer_ = worker_->postRepeating(timerInterval_, [weakSelf] {
    if (auto self = weakSelf.lock()) self->timerFired();
  });
  timerRunning_.store(true);
}

void MOXDispatcher::timerFired() {
  if (canScheduleDispatch()) dispatch();
}

// ---- Sending ---------------------------------------------------------------------------------

void MOXDispatcher::dispatch() {
  dispatchWithCallback(nullptr);
}

void MOXDispatcher::dispatchWithCallback(Callback callback) {
  auto self = shared_from_this();
  worker_->post([self, callback = std::move(callback)]() mutable {
    self->dispatchOnWorker(std::move(callback));
  });
}

void MOXDispatcher::dispatchOnWorker(Callback callback) {
  if (dispatching_ || !canDispatch()) {
    if (callback) callback(kPLUDispatchNothingToSend);
    return;
  }
  // Marked before the fetch, so a second dispatch cannot take the same hits meanwhile.
  dispatching_ = true;
  const std::size_t limit = callback ? 1 : kMaxRequestsPerDispatch;
  auto self = shared_from_this();
  store_->fetchNotRecentlyAttemptedHitsWithLimit(
      limit, [self, callback = std::move(callback)](std::vector<MOXHit> hits) {
        if (hits.empty()) {
          self->dispatching_ = false;
          if (callback) callback(kPLUDispatchNothingToSend);
          return;
        }
        self->operations_ += hits.size();
        for (const MOXHit& hit : hits) self->sendHit(hit, callback);
      });
}

void MOXDispatcher::sendHit(const MOXHit& hit, const Callback& callback) {
  auto self = shared_from_this();
  network_->sendURL(hit.dispatchURL.value_or(""),
                    [self, hit, callback](const MOXPixelSendResult& result) {
                      self->sendCompleted(hit, result, callback);
                    });
}

void MOXDispatcher::sendCompleted(const MOXHit& hit, const MOXPixelSendResult& result,
                                  const Callback& callback) {
  const MOXPixelSendVerdict verdict =
      MOXDecideAfterSend(result.status, result.cancelled, network_->isReachable(), hit.dispatchTime,
                         clock_->nowSeconds());
  const std::string url = hit.dispatchURL.value_or("(missing URL)");
  PLUDispatchOutcome outcome = kPLUDispatchNothingToSend;
  switch (verdict) {
    case MOXPixelSendVerdict::kSent:
      if (hit.dispatchURL) MOXLog::verbose("Successfully sent hit: " + url);
      store_->deleteHits({hit});
      outcome = kPLUDispatchSent;
      break;
    case MOXPixelSendVerdict::kGivenUp:
      MOXLog::verbose("Giving up on hit: " + url);
      store_->deleteHits({hit});
      outcome = kPLUDispatchSent;
      break;
    case MOXPixelSendVerdict::kFailed:
      MOXLog::verbose("Failed to send hit: " + url);
      store_->updateFailedHits({hit});
      outcome = kPLUDispatchFailed;
      break;
    case MOXPixelSendVerdict::kUnchanged:
      break;
  }
  if (operations_ > 0 && --operations_ == 0) dispatching_ = false;
  if (callback) callback(outcome);
}

}  // namespace loomset
