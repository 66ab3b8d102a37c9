#include "loomset/PLU.h"

#include "Library/Util/platform/NoDestructor.h"
#include "analytics/store/PLUDataStore.h"
#include "analytics/dispatch/PLUDispatcher.h"
#include "analytics/PLUInstanceControl.h"
#include "analytics/PLULog.h"
#include "analytics/model/PLUModelEnvironment.h"
#include "analytics/PLUTrackerImpl.h"
#include "analytics/crash/PLUUncaughtExceptionHandler.h"
#include "analytics/PLUUsageTracker.h"
#include "analytics/PLUUserDefaults.h"
#include "loomset/platform/PLUAdvertisingIdAccess.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/EventLoop.h"
#include "loomset/platform/Platform.h"

namespace loomset {
namespace {

struct InstanceSlot {
  std::mutex mu;
  std::shared_ptr<PLU> instance;
  PLUDispatcherFactory factory;
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

}  // namespace

void PLUInstanceControl::setDispatcherFactory(PLUDispatcherFactory factory) {
  auto& slot = instanceSlot();
  std::lock_guard<std::mutex> lock(slot.mu);
  slot.factory = std::move(factory);
}

PLUDispatcherFactory PLUInstanceControl::dispatcherFactory() {
  auto& slot = instanceSlot();
  std::lock_guard<std::mutex> lock(slot.mu);
  if (slot.factory) return slot.factory;
  return &plu_createDefaultDispatcher;
}

void PLUInstanceControl::resetSharedInstance() {
  std::shared_ptr<PLU> dropped;
  auto& slot = instanceSlot();
  std::lock_guard<std::mutex> lock(slot.mu);
  dropped.swap(slot.instance);
}

std::shared_ptr<PLU> PLU::sharedInstance() {
  auto& slot = instanceSlot();
  std::shared_ptr<PLU> created;
  {
    std::lock_guard<std::mutex> lock(slot.mu);
    if (slot.instance) return slot.instance;
    created.reset(new PLU(Platform::current()));  // the constructor is private to the facade
    slot.instance = created;
  }
  // Outside the class-wide lock: a dispatcher may ask for the facade while it is being made.
  created->dispatcher();
  return created;
}

std::shared_ptr<PLULogger> PLU::sharedLogger() {
  return plu_log::sharedLogger();
}

std::shared_ptr<EventLoop> PLU::thread() {
  // Never destroyed: hits may still be handed over while the process exits.
  static NoDestructor<std::shared_ptr<EventLoop>> loop(
      std::make_shared<AsioEventLoop>("PLUThread"));
  return *loop;
}

void PLU::applicationWillResignActive() {
  PLUDataStore::saveAllStores();
}

void PLU::applicationWillTerminate() {
  PLUDataStore::saveAllStores();
}

PLU::PLU(std::shared_ptr<const Platform> platform) : platform_(std::move(platform)) {
  environment_ = PLUModelEnvironment::create(platform_, PLUAdvertisingIdAccess::shared());
  if (platform_->directories.root().empty()) {
    PLU_LOG_WARNING("No data directory configured; user defaults are not kept.");
    return;
  }
  userDefaults_ = PLUUserDefaults::forLibraryDirectory(platform_->directories.libraryDirectory());
  if (!userDefaults_->hasKey(kPLUUserDefaultsFirstInitTimestamp)) {
    userDefaults_->setDouble(platform_->clock->nowSeconds(), kPLUUserDefaultsFirstInitTimestamp);
    userDefaults_->synchronize();
  }
}

PLU::~PLU() = default;

std::shared_ptr<PLUDispatcher> PLU::dispatcherLocked() {
  if (dispatcher_) return dispatcher_;
  const bool initial = !dispatcherAttempted_;
  dispatcherAttempted_ = true;
  std::string error;
  auto factory = PLUInstanceControl::dispatcherFactory();
  dispatcher_ = factory ? factory(&error) : nullptr;
  if (!dispatcher_) {
    if (error.empty()) error = "unknown error";
    if (initial) {
      PLU_LOG_ERROR("Dispatcher initialization failed: " + error);
    } else {
      PLU_LOG_ERROR("Cannot initiate dispatcher: " + error);
    }
    return nullptr;
  }
  dispatcher_->setDryRun(dryRun_);
  if (optOut_) dispatcher_->setOptOut(true);
  return dispatcher_;
}

std::shared_ptr<PLUDispatcher> PLU::dispatcher() {
  std::lock_guard<std::mutex> lock(mu_);
  return dispatcherLocked();
}

std::shared_ptr<PLUTracker> PLU::trackerWithName(const std::string& name,
                                                 const std::string& trackingId) {
  PLUUsageTracker::trackAction("trackerWithName:trackingId:");
  if (isBlank(name)) {
    PLU_LOG_ERROR("Nil or empty name supplied. Cannot create tracker.");
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(mu_);
  const auto existing = trackers_.find(name);
  if (existing != trackers_.end()) return existing->second;
  auto tracker = PLUTrackerImpl::trackerWithDispatcher(dispatcherLocked(), name, environment_);
  if (!tracker) return nullptr;
  tracker->plu_set(kPLUTrackingId, trackingId);
  trackers_.emplace(name, tracker);
  if (!defaultTracker_) defaultTracker_ = tracker;
  return tracker;
}

std::shared_ptr<PLUTracker> PLU::trackerWithTrackingId(const std::string& trackingId) {
  return trackerWithName(trackingId, trackingId);
}

void PLU::removeTrackerByName(const std::string& name) {
  PLUUsageTracker::trackAction("removeTrackerByName:");
  std::shared_ptr<PLUTracker> removed;  // released outside the lock
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = trackers_.find(name);
  if (it == trackers_.end()) return;
  removed = std::move(it->second);
  trackers_.erase(it);
  if (defaultTracker_ == removed) defaultTracker_.reset();
}

std::shared_ptr<PLUTracker> PLU::defaultTracker() {
  PLUUsageTracker::trackAction("defaultTracker");
  std::lock_guard<std::mutex> lock(mu_);
  return defaultTracker_;
}

std::shared_ptr<PLUTracker> PLU::plu_defaultTracker() {
  std::lock_guard<std::mutex> lock(mu_);
  return defaultTracker_;
}

void PLU::setDefaultTracker(std::shared_ptr<PLUTracker> tracker) {
  PLUUsageTracker::trackAction("setDefaultTracker:");
  std::lock_guard<std::mutex> lock(mu_);
  defaultTracker_ = std::move(tracker);
}

std::shared_ptr<PLULogger> PLU::logger() {
  std::lock_guard<std::mutex> lock(mu_);
  return plu_log::sharedLogger();
}

void PLU::setLogger(std::shared_ptr<PLULogger> logger) {
  PLUUsageTracker::trackAction("setLogger:");
  std::lock_guard<std::mutex> lock(mu_);
  plu_log::setSharedLogger(std::move(logger));
}

bool PLU::optOut() {
  PLUUsageTracker::trackAction("optOut");
  std::lock_guard<std::mutex> lock(mu_);
  return optOut_;
}

void PLU::setOptOut(bool optOut) {
  PLUUsageTracker::trackAction("setOptOut:");
  std::shared_ptr<PLUDispatcher> dispatcher;
  {
    std::lock_guard<std::mutex> lock(mu_);
    optOut_ = optOut;
    dispatcher = dispatcher_;
  }
  if (dispatcher) dispatcher->setOptOut(optOut);
}

bool PLU::dryRun() {
  PLUUsageTracker::trackAction("dryRun");
  std::lock_guard<std::mutex> lock(mu_);
  return dryRun_;
}

void PLU::setDryRun(bool dryRun) {
  PLUUsageTracker::trackAction("setDryRun:");
  std::shared_ptr<PLUDispatcher> dispatcher;
  {
    std::lock_guard<std::mutex> lock(mu_);
    dryRun_ = dryRun;
    dispatcher = dispatcher_;
  }
  if (dispatcher) dispatcher->setDryRun(dryRun);
}

bool PLU::trackUncaughtExceptions() {
  PLUUsageTracker::trackAction("trackUncaughtExceptions");
  std::lock_guard<std::mutex> lock(mu_);
  return trackUncaughtExceptions_;
}

void PLU::setTrackUncaughtExceptions(bool track) {
  PLUUsageTracker::trackAction("setTrackUncaughtExceptions:");
  std::lock_guard<std::mutex> lock(mu_);
  if (track) {
    PLUInstallUncaughtExceptionHandler();
  } else {
    PLUUninstallUncaughtExceptionHandler();
  }
  trackUncaughtExceptions_ = track;
}

double PLU::dispatchInterval() {
  std::shared_ptr<PLUDispatcher> dispatcher = this->dispatcher();
  return dispatcher ? dispatcher->dispatchInterval() : 0;
}

void PLU::setDispatchInterval(double seconds) {
  PLUUsageTracker::trackAction("setDispatchInterval:");
  if (auto dispatcher = this->dispatcher()) dispatcher->setDispatchInterval(seconds);
}

void PLU::dispatch() {
  PLUUsageTracker::trackAction("dispatch");
  if (auto dispatcher = this->dispatcher()) dispatcher->dispatch();
}

void PLU::dispatchWithCompletionHandler(DispatchCompletion handler) {
  auto dispatcher = this->dispatcher();
  if (!dispatcher) {
    if (handler) handler(kPLUDispatchNothingToSend);
    return;
  }
  dispatcher->dispatchWithCompletionHandler(std::move(handler));
}

std::string PLU::clientId() {
  auto dispatcher = this->dispatcher();
  return dispatcher ? dispatcher->clientId() : std::string();
}

}  // namespace loomset
