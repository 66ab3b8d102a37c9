#include "loomset/PLU.h"

#include <unordered_map>

#include "Library/Util/platform/ExitSavers.h"
#include "Library/Util/platform/Mutex.h"
#include "Library/Util/platform/NoDestructor.h"
#include "Library/Util/platform/ObserverList.h"
#include "analytics/PLUContext.h"
#include "analytics/PLUInstanceControl.h"
#include "analytics/PLUInternal.h"
#include "analytics/PLULog.h"
#include "analytics/PLUTrackerImpl.h"
#include "analytics/PLUUsageTracker.h"
#include "analytics/PLUUserDefaults.h"
#include "analytics/crash/PLUUncaughtExceptionHandler.h"
#include "analytics/dispatch/PLUDispatcher.h"
#include "analytics/dispatch/PLUFlushRun.h"
#include "analytics/model/PLUModelEnvironment.h"
#include "analytics/store/PLUDataStore.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/EventLoop.h"
#include "loomset/platform/Platform.h"

namespace loomset {
namespace {

struct InstanceSlot {
  Mutex mu;
  std::shared_ptr<PLU> instance GUARDED_BY(mu);
  PLUDispatcherFactory factory GUARDED_BY(mu);
};

InstanceSlot& instanceSlot() {
  static NoDestructor<InstanceSlot> slot;
  return *slot;
}

// Length of a white-space or line-break character (ASCII or Unicode) at the front of `text`.
std::size_t leadingSpaceLength(std::string_view text) {
  if (text.empty()) return 0;
  const auto c = static_cast<unsigned char>(text[0]);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  auto starts = [&text](std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
  };
  // U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
  if (starts("\xC2\x85") || starts("\xC2\xA0")) return 2;
  if (starts("\xE1\x9A\x80") || starts("\xE2\x80\xA8") || starts("\xE2\x80\xA9") ||
      starts("\xE2\x80\xAF") || starts("\xE2\x81\x9F") || starts("\xE3\x80\x80")) {
    return 3;
  }
  if (text.size() >= 3 && starts("\xE2\x80") && static_cast<unsigned char>(text[2]) >= 0x80 &&
      static_cast<unsigned char>(text[2]) <= 0x8A) {
    return 3;
  }
  return 0;
}

bool isBlank(std::string_view text) {
  while (const std::size_t n = leadingSpaceLength(text)) text.remove_prefix(n);
  return text.empty();
}

using DeliveryObservers = ObserverList<PLUDispatchReport>;

std::shared_ptr<DeliveryObservers> makeDeliveryObservers() {
  return std::make_shared<DeliveryObservers>(
      [](const std::string& message) { PLU_LOG_ERROR("Delivery observer: " + message); });
}

}  // namespace

// The facade's state, behind the public header.
class PLU::State {
 public:
  // Constant after construction.
  std::shared_ptr<const Platform> platform;
  std::shared_ptr<const PLUModelEnvironment> environment;
  std::shared_ptr<PLUUserDefaults> userDefaults;
  // Set once, by `sharedInstance`, before anyone else sees the facade.
  std::shared_ptr<const PLUContext> context;
  std::shared_ptr<const PLUCrashReporting> crashReporting;
  const std::shared_ptr<DeliveryObservers> deliveryObservers = makeDeliveryObservers();

  // The facade's lock.
  Mutex mu;
  std::unordered_map<std::string, std::shared_ptr<PLUTracker>> trackers GUARDED_BY(mu);
  std::shared_ptr<PLUTracker> defaultTracker GUARDED_BY(mu);
  std::shared_ptr<PLUDispatcher> dispatcher GUARDED_BY(mu);
  bool dispatcherAttempted GUARDED_BY(mu) = false;
  bool optOut GUARDED_BY(mu) = false;
  bool dryRun GUARDED_BY(mu) = false;
  bool trackUncaughtExceptions GUARDED_BY(mu) = false;

  std::shared_ptr<PLUDispatcher> dispatcherLocked() REQUIRES(mu);
};

namespace {

// What the facade hands down. The links back hold the facade weakly: parts below it never keep
// it alive, and find nothing once it is gone.
std::shared_ptr<const PLUContext> makeContext(
    const std::shared_ptr<PLU>& facade, const std::shared_ptr<const Platform>& platform,
    std::shared_ptr<PLUUserDefaults> userDefaults,
    const std::shared_ptr<DeliveryObservers>& deliveryObservers) {
  auto context = std::make_shared<PLUContext>();
  context->platform = platform;
  context->worker = platform->analyticsWorker;
  context->userDefaults = std::move(userDefaults);
  context->endpoints = PLUCollectorEndpoints::shared();
  std::weak_ptr<PLU> weakFacade = facade;
  // Sent from a background thread, never from the worker: whoever waits on the worker may hold
  // the lock of that very tracker.
  context->sendCampaignHit = [weakFacade, background = platform->background](const PLUHitMap& hit) {
    background->execute([weakFacade, hit] {
      const auto tid = hit.find(kPLUTrackingId);
      if (tid == hit.end() || !tid->second) return;
      auto facade = weakFacade.lock();
      if (!facade) return;
      if (auto tracker = facade->trackerWithTrackingId(*tid->second)) tracker->plu_send(hit);
    });
  };
  context->defaultTracker = [weakFacade]() -> std::shared_ptr<PLUTracker> {
    auto facade = weakFacade.lock();
    return facade ? PLUInternal::plu_defaultTracker(*facade) : nullptr;
  };
  context->reportDispatch = [weakObservers = std::weak_ptr<DeliveryObservers>(deliveryObservers),
                             mainLoop = platform->mainLoop](const PLUDispatchReport& report) {
    if (auto observers = weakObservers.lock()) observers->post(*mainLoop, report);
  };
  return context;
}

std::shared_ptr<const PLUCrashReporting> makeCrashReporting(const std::shared_ptr<PLU>& facade) {
  auto reporting = std::make_shared<PLUCrashReporting>();
  std::weak_ptr<PLU> weakFacade = facade;
  reporting->defaultTracker = [weakFacade]() -> std::shared_ptr<PLUTracker> {
    auto facade = weakFacade.lock();
    return facade ? PLUInternal::plu_defaultTracker(*facade) : nullptr;
  };
  reporting->commitStores = [] { PLUDataStore::saveAllStores(); };
  reporting->dispatchWithCompletionHandler =
      [weakFacade](std::function<void(PLUDispatchOutcome)> handler) {
        if (auto facade = weakFacade.lock()) {
          facade->dispatchWithCompletionHandler(std::move(handler));
        } else if (handler) {
          handler(kPLUDispatchNothingToSend);
        }
      };
  return reporting;
}

}  // namespace

void PLUInstanceControl::setDispatcherFactory(PLUDispatcherFactory factory) {
  auto& slot = instanceSlot();
  MutexLock lock(slot.mu);
  slot.factory = std::move(factory);
}

PLUDispatcherFactory PLUInstanceControl::dispatcherFactory() {
  auto& slot = instanceSlot();
  MutexLock lock(slot.mu);
  if (slot.factory) return slot.factory;
  return &plu_createDefaultDispatcher;
}

void PLUInstanceControl::resetSharedInstance() {
  std::shared_ptr<PLU> dropped;
  {
    auto& slot = instanceSlot();
    MutexLock lock(slot.mu);
    dropped.swap(slot.instance);
    PLUContext::setShared(nullptr);
  }
}

std::shared_ptr<PLU> PLU::sharedInstance() {
  auto& slot = instanceSlot();
  std::shared_ptr<PLU> created;
  {
    MutexLock lock(slot.mu);
    if (slot.instance) return slot.instance;
    created.reset(new PLU(Platform::current()));  // the constructor is private to the facade
    State& state = *created->state_;
    state.context =
        makeContext(created, state.platform, state.userDefaults, state.deliveryObservers);
    state.crashReporting = makeCrashReporting(created);
    slot.instance = created;
    PLUContext::setShared(state.context);
  }
  // Outside the class-wide lock: a dispatcher may ask for the facade while it is being made.
  PLUInternal::dispatcher(*created);
  return created;
}

std::shared_ptr<PLULogger> PLU::sharedLogger() {
  return plu_log::sharedLogger();
}

void PLU::applicationWillResignActive() {
  PLUDataStore::saveAllStores();
  ExitSavers::saveAll();  // the container half's stores
}

void PLU::applicationWillTerminate() {
  PLUDataStore::saveAllStores();
  ExitSavers::saveAll();
}

PLU::PLU(std::shared_ptr<const Platform> platform) : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.platform = std::move(platform);
  state.environment = PLUModelEnvironment::create(state.platform, state.platform->advertisingId);
  if (state.platform->directories.root().empty()) {
    PLU_LOG_WARNING("No data directory configured; user defaults are not kept.");
    return;
  }
  state.userDefaults = PLUUserDefaults::forLibraryDirectory(
      state.platform->directories.libraryDirectory(), state.platform->fileSystem);
  if (!state.userDefaults->hasKey(kPLUUserDefaultsFirstInitTimestamp)) {
    state.userDefaults->setDouble(state.platform->clock->nowSeconds(),
                                  kPLUUserDefaultsFirstInitTimestamp);
    state.userDefaults->synchronize();
  }
}

PLU::~PLU() = default;

std::shared_ptr<PLUDispatcher> PLU::State::dispatcherLocked() {
  if (dispatcher) return dispatcher;
  const bool initial = !dispatcherAttempted;
  dispatcherAttempted = true;
  std::string error;
  auto factory = PLUInstanceControl::dispatcherFactory();
  dispatcher = factory && context ? factory(*context, &error) : nullptr;
  if (!dispatcher) {
    if (error.empty()) error = "unknown error";
    if (initial) {
      PLU_LOG_ERROR("Dispatcher initialization failed: " + error);
    } else {
      PLU_LOG_ERROR("Cannot initiate dispatcher: " + error);
    }
    return nullptr;
  }
  dispatcher->setDryRun(dryRun);
  if (optOut) dispatcher->setOptOut(true);
  return dispatcher;
}

std::shared_ptr<EventLoop> PLUInternal::thread() {
  return Platform::current()->analyticsWorker;
}

std::shared_ptr<PLUDispatcher> PLUInternal::dispatcher(PLU& facade) {
  MutexLock lock(facade.state_->mu);
  return facade.state_->dispatcherLocked();
}

std::shared_ptr<PLUUserDefaults> PLUInternal::userDefaults(const PLU& facade) {
  return facade.state_->userDefaults;
}

const PLUContext& PLUInternal::context(const PLU& facade) {
  return *facade.state_->context;
}

std::shared_ptr<PLUTracker> PLUInternal::plu_defaultTracker(PLU& facade) {
  MutexLock lock(facade.state_->mu);
  return facade.state_->defaultTracker;
}

std::shared_ptr<PLUTracker> PLU::trackerWithName(const std::string& name,
                                                 const std::string& trackingId) {
  PLUUsageTracker::trackAction("trackerWithName:trackingId:");
  if (isBlank(name)) {
    PLU_LOG_ERROR("Nil or empty name supplied. Cannot create tracker.");
    return nullptr;
  }
  State& state = *state_;
  MutexLock lock(state.mu);
  const auto existing = state.trackers.find(name);
  if (existing != state.trackers.end()) return existing->second;
  auto tracker =
      PLUTrackerImpl::trackerWithDispatcher(state.dispatcherLocked(), name, state.environment);
  if (!tracker) return nullptr;
  tracker->plu_set(kPLUTrackingId, trackingId);
  state.trackers.emplace(name, tracker);
  if (!state.defaultTracker) state.defaultTracker = tracker;
  return tracker;
}

std::shared_ptr<PLUTracker> PLU::trackerWithTrackingId(const std::string& trackingId) {
  return trackerWithName(trackingId, trackingId);
}

void PLU::removeTrackerByName(const std::string& name) {
  PLUUsageTracker::trackAction("removeTrackerByName:");
  std::shared_ptr<PLUTracker> removed;  // released outside the lock
  State& state = *state_;
  MutexLock lock(state.mu);
  const auto it = state.trackers.find(name);
  if (it == state.trackers.end()) return;
  removed = std::move(it->second);
  state.trackers.erase(it);
  if (state.defaultTracker == removed) state.defaultTracker.reset();
}

std::shared_ptr<PLUTracker> PLU::defaultTracker() {
  PLUUsageTracker::trackAction("defaultTracker");
  MutexLock lock(state_->mu);
  return state_->defaultTracker;
}

void PLU::setDefaultTracker(std::shared_ptr<PLUTracker> tracker) {
  PLUUsageTracker::trackAction("setDefaultTracker:");
  MutexLock lock(state_->mu);
  state_->defaultTracker = std::move(tracker);
}

std::shared_ptr<PLULogger> PLU::logger() {
  MutexLock lock(state_->mu);
  return plu_log::sharedLogger();
}

void PLU::setLogger(std::shared_ptr<PLULogger> logger) {
  PLUUsageTracker::trackAction("setLogger:");
  MutexLock lock(state_->mu);
  plu_log::setSharedLogger(std::move(logger));
}

bool PLU::optOut() {
  PLUUsageTracker::trackAction("optOut");
  MutexLock lock(state_->mu);
  return state_->optOut;
}

void PLU::setOptOut(bool optOut) {
  PLUUsageTracker::trackAction("setOptOut:");
  // Under the facade's lock, so that concurrent calls leave the facade and the dispatcher agreeing.
  MutexLock lock(state_->mu);
  state_->optOut = optOut;
  if (state_->dispatcher) state_->dispatcher->setOptOut(optOut);
}

bool PLU::dryRun() {
  PLUUsageTracker::trackAction("dryRun");
  MutexLock lock(state_->mu);
  return state_->dryRun;
}

void PLU::setDryRun(bool dryRun) {
  PLUUsageTracker::trackAction("setDryRun:");
  MutexLock lock(state_->mu);
  state_->dryRun = dryRun;
  if (state_->dispatcher) state_->dispatcher->setDryRun(dryRun);
}

bool PLU::trackUncaughtExceptions() {
  PLUUsageTracker::trackAction("trackUncaughtExceptions");
  MutexLock lock(state_->mu);
  return state_->trackUncaughtExceptions;
}

void PLU::setTrackUncaughtExceptions(bool track) {
  PLUUsageTracker::trackAction("setTrackUncaughtExceptions:");
  MutexLock lock(state_->mu);
  if (track) {
    PLUInstallUncaughtExceptionHandler(state_->crashReporting);
  } else {
    PLUUninstallUncaughtExceptionHandler();
  }
  state_->trackUncaughtExceptions = track;
}

double PLU::dispatchInterval() {
  std::shared_ptr<PLUDispatcher> dispatcher = PLUInternal::dispatcher(*this);
  return dispatcher ? dispatcher->dispatchInterval() : 0;
}

void PLU::setDispatchInterval(double seconds) {
  PLUUsageTracker::trackAction("setDispatchInterval:");
  if (auto dispatcher = PLUInternal::dispatcher(*this)) dispatcher->setDispatchInterval(seconds);
}

void PLU::dispatch() {
  PLUUsageTracker::trackAction("dispatch");
  if (auto dispatcher = PLUInternal::dispatcher(*this)) dispatcher->dispatch();
}

void PLU::dispatchWithCompletionHandler(DispatchCompletion handler) {
  auto dispatcher = PLUInternal::dispatcher(*this);
  if (!dispatcher) {
    if (handler) handler(kPLUDispatchNothingToSend);
    return;
  }
  dispatcher->dispatchWithCompletionHandler(std::move(handler));
}

std::string PLU::clientId() {
  auto dispatcher = PLUInternal::dispatcher(*this);
  return dispatcher ? dispatcher->clientId() : std::string();
}

PLUObserverToken PLU::addDeliveryObserver(PLUDeliveryObserver observer) {
  return state_->deliveryObservers->add(std::move(observer));
}

void PLU::removeDeliveryObserver(PLUObserverToken token) {
  state_->deliveryObservers->remove(token);
}

PLUFlushResult PLU::flush(double timeoutSeconds) {
  // The worker cannot wait for its own requests: there a flush without time only saves and
  // counts, inline.
  const bool onWorker = state_->platform->analyticsWorker->isCurrent();
  auto run = std::make_shared<PLUFlushRun>(state_->platform->clock, onWorker ? 0 : timeoutSeconds);
  // The container half's stores too, as on leaving the foreground, but without waiting past the
  // deadline for a store whose queue is held up (it then saves later, on its own).
  ExitSavers::saveAllBefore(run->realDeadline());
  auto dispatcher = PLUInternal::dispatcher(*this);
  if (!dispatcher) return run->stop();
  dispatcher->flush(run);
  return onWorker ? run->stop() : run->wait();
}

}  // namespace loomset
