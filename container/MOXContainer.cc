#include "loomset/MOXContainer.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <utility>

#include "container/MOXContainerRuntime.h"
#include "container/MOXContainerStatusObservers.h"
#include "container/MOXDiskLoadCallback.h"
#include "container/MOXFunctionCallHandlers.h"
#include "container/MOXNetworkLoadCallback.h"
#include "container/MOXRefreshPolicy.h"
#include "container/loading/MOXResourceLoaderScheduler.h"
#include "container/loading/MOXResourceStorageImpl.h"
#include "container/preview/MOXPreviewManager.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXManager.h"
#include "loomset/MOXResourceUtil.h"
#include "loomset/MOXRuntime.h"
#include "loomset/platform/Platform.h"

namespace loomset {
namespace {

std::string reasonOf(const std::exception& e) {
  if (const auto* named = dynamic_cast<const LoomsetException*>(&e)) return named->reason();
  return e.what();
}

std::shared_ptr<MOXDataLayer> dataLayerOf(const std::shared_ptr<MOXManager>& manager) {
  return manager ? manager->dataLayer() : nullptr;
}

}  // namespace

std::shared_ptr<MOXContainer> MOXContainer::create(const std::string& containerId,
                                                   const std::shared_ptr<MOXManager>& moxManager) {
  return create(containerId, moxManager, MOXResourceStorageImpl::create(containerId));
}

std::shared_ptr<MOXContainer> MOXContainer::create(
    const std::string& containerId, const std::shared_ptr<MOXManager>& moxManager,
    std::shared_ptr<MOXResourceStorage> resourceStorage) {
  return std::shared_ptr<MOXContainer>(
      new MOXContainer(containerId, moxManager, std::move(resourceStorage)));
}

MOXContainer::MOXContainer(std::string containerId, const std::shared_ptr<MOXManager>& moxManager,
                           std::shared_ptr<MOXResourceStorage> resourceStorage)
    : containerId_(std::move(containerId)),
      moxManager_(moxManager),
      dataLayer_(dataLayerOf(moxManager)),
      platform_(Platform::current()),
      handlers_(std::make_shared<MOXFunctionCallHandlers>()),
      statusObservers_(std::make_shared<MOXContainerStatusObservers>()),
      resourceStorage_(std::move(resourceStorage)) {
  // Applied without the container's lock, as nothing else can reach the container yet: it is
  // built under the manager's lock (and the opener's notifier-map lock), which are taken after a
  // container's own lock, never before it.
  applyExpandedResource(initialResource(resourceStorage_.get(), containerId_));
}

MOXContainer::~MOXContainer() = default;

// ---- Runtime ---------------------------------------------------------------------------------

namespace {

// Null, with the error logged, for a resource that does not expand.
MOXExpandedResourcePtr expandOrLog(const MOXPResource& resource) {
  try {
    return MOXResourceUtil::expandResource(resource);
  } catch (const InvalidResourceException& e) {
    MOXLog::error("Not loading resource: " + resource.ShortDebugString() +
                  " because it is invalid: " + e.what());
    return nullptr;
  }
}

}  // namespace

MOXExpandedResourcePtr MOXContainer::initialResource(MOXResourceStorage* storage,
                                                     const std::string& containerId) {
  if (storage) {
    // A binary default that parses but does not expand is passed over like a missing one, so
    // that the container still gets a runtime from the next default that works.
    if (const auto resource = storage->loadResourceFromContainerFile(containerId)) {
      if (auto expanded = expandOrLog(*resource)) return expanded;
    }
    if (auto expanded = storage->loadExpandedResourceFromPlistFile(containerId)) return expanded;
    if (auto expanded = storage->loadExpandedResourceFromJsonFile(containerId)) return expanded;
  }
  MOXLog::error("No default container found; creating an empty container.");
  return MOXExpandedResource::builder().build();
}

bool MOXContainer::setupEvaluatorsWithResource(const MOXPResource& resource) {
  MOXExpandedResourcePtr expanded = expandOrLog(resource);
  if (!expanded) return false;
  setupEvaluatorsWithExpandedResource(std::move(expanded));
  return true;
}

void MOXContainer::setupEvaluatorsWithExpandedResource(MOXExpandedResourcePtr resource) {
  RecursiveMutexLock lock(mu_);
  applyExpandedResource(std::move(resource));
}

void MOXContainer::applyExpandedResource(MOXExpandedResourcePtr resource) {
  resourceVersion_ = resource->version();
  std::atomic_store(&runtime_, MOXContainerRuntime::runtimeWithResource(std::move(resource),
                                                                        dataLayer_, handlers_));
}

void MOXContainer::setSupplementals(
    const google::protobuf::RepeatedPtrField<MOXPSupplemental>& supplementals) {
  if (const auto current = runtime()) current->setSupplementals(supplementals);
}

std::shared_ptr<MOXRuntime> MOXContainer::runtime() const {
  return std::atomic_load(&runtime_);
}

void MOXContainer::evaluateTags(const std::string& eventName) {
  if (const auto current = runtime()) current->evaluateTags(eventName);
}

// ---- Getters ---------------------------------------------------------------------------------

std::string MOXContainer::stringForKey(const std::string& key) {
  return MOXContainerRuntime::stringForKey(runtime(), key);
}

bool MOXContainer::booleanForKey(const std::string& key) {
  return MOXContainerRuntime::booleanForKey(runtime(), key);
}

double MOXContainer::doubleForKey(const std::string& key) {
  return MOXContainerRuntime::doubleForKey(runtime(), key);
}

std::int64_t MOXContainer::int64ForKey(const std::string& key) {
  return MOXContainerRuntime::int64ForKey(runtime(), key);
}

namespace {

// A closed container has no runtime to name the version; its last resource's is reported.
template <typename Detail>
Detail withVersion(Detail detail, MOXContainer& container) {
  if (detail.why.failure == MOXValueFailure::kClosedContainer) {
    detail.why.containerVersion = container.resourceVersion();
  }
  return detail;
}

}  // namespace

MOXStringDetail MOXContainer::stringDetailForKey(const std::string& key) {
  return withVersion(MOXContainerRuntime::stringDetailForKey(runtime(), key), *this);
}

MOXBooleanDetail MOXContainer::booleanDetailForKey(const std::string& key) {
  return withVersion(MOXContainerRuntime::booleanDetailForKey(runtime(), key), *this);
}

MOXDoubleDetail MOXContainer::doubleDetailForKey(const std::string& key) {
  return withVersion(MOXContainerRuntime::doubleDetailForKey(runtime(), key), *this);
}

MOXInt64Detail MOXContainer::int64DetailForKey(const std::string& key) {
  return withVersion(MOXContainerRuntime::int64DetailForKey(runtime(), key), *this);
}

bool MOXContainer::isDefault() {
  RecursiveMutexLock lock(mu_);
  return lastRefreshTime_ == 0;
}

double MOXContainer::lastRefreshTime() {
  RecursiveMutexLock lock(mu_);
  return lastRefreshTime_;
}

std::string MOXContainer::resourceVersion() {
  RecursiveMutexLock lock(mu_);
  return resourceVersion_;
}

// ---- Status ---------------------------------------------------------------------------------

MOXContainerStatus MOXContainer::status() {
  RecursiveMutexLock lock(mu_);
  return statusLocked();
}

MOXContainerStatus MOXContainer::statusLocked() const {
  MOXContainerStatus status;
  status.containerId = containerId_;
  status.resourceVersion = resourceVersion_;
  status.source = source_;
  status.lastFetchOutcome = lastFetchOutcome_;
  status.lastFetchFailure = lastFetchFailure_;
  status.lastFetchTimeMillis = lastFetchTime_;
  status.fetching = fetching_;
  status.nextFetchTimeMillis = nextFetchTime_;
  status.closed = closed_;
  return status;
}

MOXObserverToken MOXContainer::addStatusObserver(MOXContainerStatusObserver observer) {
  return statusObservers_->add(std::move(observer));
}

void MOXContainer::removeStatusObserver(MOXObserverToken token) {
  statusObservers_->remove(token);
}

// Only queues the status: observers run later on the main loop, when this lock is long released.
void MOXContainer::postStatus() {
  const MOXContainerStatus status = statusLocked();
  statusObservers_->post(*platform_->mainLoop, status);
  if (const auto manager = moxManager_.lock()) manager->postContainerStatus(status);
}

// ---- Handlers --------------------------------------------------------------------------------

void MOXContainer::registerFunctionCallTagHandler(
    std::shared_ptr<MOXFunctionCallTagHandler> handler, const std::string& tagName) {
  handlers_->registerFunctionCallTagHandler(std::move(handler), tagName);
}

void MOXContainer::registerFunctionCallMacroHandler(
    std::shared_ptr<MOXFunctionCallMacroHandler> handler, const std::string& macroName) {
  handlers_->registerFunctionCallMacroHandler(std::move(handler), macroName);
}

std::shared_ptr<MOXFunctionCallTagHandler> MOXContainer::functionCallTagHandlerForTag(
    const std::string& tagName) {
  return handlers_->functionCallTagHandlerForTag(tagName);
}

std::shared_ptr<MOXFunctionCallMacroHandler> MOXContainer::functionCallMacroHandlerForMacro(
    const std::string& macroName) {
  return handlers_->functionCallMacroHandlerForMacro(macroName);
}

// ---- Refresh and close -----------------------------------------------------------------------

void MOXContainer::refresh() {
  try {
    RecursiveMutexLock lock(mu_);
    if (!runtime()) {
      MOXLog::warning("refresh called for closed container");
      return;
    }
    if (isDefaultContainerRefreshMode()) {
      MOXLog::warning("Container is in DEFAULT_CONTAINER mode. Refresh request is ignored.");
      return;
    }
    const double now = currentTimeInMilliseconds();
    const auto decision = MOXRefreshPolicy::useAvailableTokenWithCurrentTime(
        {lastRefreshMethodCalledTime_, numTokens_}, now);
    lastRefreshMethodCalledTime_ = decision.tokens.lastRefreshMethodCalledTime;
    numTokens_ = decision.tokens.numTokens;
    if (decision.accepted) {
      MOXLog::verbose("Container refresh requested.");
      loadAfterDelay(0);
      postStatus();
    } else {
      MOXLog::verbose("Container refresh was called too often. Ignored.");
    }
  } catch (const std::exception& e) {
    MOXLog::error("Calling refresh threw an exception: " + reasonOf(e));
  }
}

void MOXContainer::close() {
  try {
    RecursiveMutexLock lock(mu_);
    closed_ = true;
    if (networkLoadScheduler_) networkLoadScheduler_->close();
    networkLoadScheduler_.reset();
    // A saved-copy load still under way finds no callback, and a closed container if it did.
    if (resourceStorage_) resourceStorage_->setLoadCallback(nullptr);
    resourceStorage_.reset();
    if (diskLoadCallback_) diskLoadCallback_->close();
    diskLoadCallback_.reset();
    if (networkLoadCallback_) networkLoadCallback_->close();
    networkLoadCallback_.reset();
    std::atomic_store(&runtime_, std::shared_ptr<MOXRuntime>());
    nextFetchTime_ = 0;
    fetching_ = false;
    postStatus();
    // Only itself: a container made with `containerById` and never opened must not take the
    // open container of its id out of the manager.
    if (const auto manager = moxManager_.lock()) {
      if (manager->getContainerById(containerId_).get() == this) {
        manager->removeContainerById(containerId_);
      }
    }
  } catch (const std::exception& e) {
    MOXLog::error("Calling close threw an exception: " + reasonOf(e));
  }
}

// ---- Loading ---------------------------------------------------------------------------------

void MOXContainer::loadWithCallback(std::shared_ptr<MOXContainerCallback> callback) {
  loadWithCallback(std::move(callback), MOXResourceLoaderScheduler::create(containerId_));
}

void MOXContainer::loadWithCallback(std::shared_ptr<MOXContainerCallback> callback,
                                    std::shared_ptr<MOXResourceLoaderScheduler> scheduler) {
  RecursiveMutexLock lock(mu_);
  if (diskLoadCallback_) {
    throw ContainerAlreadyLoadedException("Container already loaded: container Id:" + containerId_);
  }
  // Its storage is gone: nothing could be loaded.
  if (closed_) return;
  diskLoadCallback_ = std::make_shared<MOXDiskLoadCallback>(callback, weak_from_this());
  if (isDefaultContainerRefreshMode()) {
    MOXLog::info("Container is in DEFAULT_CONTAINER mode. Use default container.");
    return;
  }
  resourceStorage_->setLoadCallback(diskLoadCallback_);
  networkLoadCallback_ = std::make_shared<MOXNetworkLoadCallback>(callback, weak_from_this());
  scheduler->setLoadCallback(networkLoadCallback_);
  const auto preview = MOXPreviewManager::instance();
  if (preview->isPreviewingContainer(containerId_)) {
    veskUrlPathAndQuery_ = preview->veskUrlPath();
    scheduler->setVeskUrlPathAndQuery(veskUrlPathAndQuery_);
  }
  if (veskServerAddress_) scheduler->setVeskServerAddress(veskServerAddress_);
  networkLoadScheduler_ = std::move(scheduler);
  resourceStorage_->loadResourceFromDiskInBackground();
}

void MOXContainer::loadAfterDelay(double delayMillis) {
  RecursiveMutexLock lock(mu_);
  if (isDefaultContainerRefreshMode() || !networkLoadScheduler_) return;
  std::optional<std::string> previousVersion;
  if (lastLoadedSupplementedResource_.has_fingerprint()) {
    previousVersion = lastLoadedSupplementedResource_.fingerprint();
  }
  networkLoadScheduler_->loadAfterDelay(delayMillis, std::move(previousVersion));
  nextFetchTime_ = currentTimeInMilliseconds() + std::max(delayMillis, 0.0);
}

void MOXContainer::saveResourceToDisk(
    const MOXPLegacyRawProtoSupplementedResource& supplementedResource) {
  if (MOXLog::enabled(kMOXLogLevelVerbose)) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", lastRefreshTime_);
    MOXLog::verbose(std::string("Saving resource to disk with timestamp of ") + text);
  }
  // The resource travels inside the supplemented resource; the plain one stays empty.
  MOXPResourceWithMetadata saved;
  saved.set_time_stamp(static_cast<std::int64_t>(lastRefreshTime_));
  saved.mutable_resource();
  *saved.mutable_supplemented_resource() = supplementedResource;
  if (resourceStorage_) resourceStorage_->saveResourceToDiskInBackground(saved);
}

void MOXContainer::setVeskServerAddress(std::optional<std::string> address) {
  RecursiveMutexLock lock(mu_);
  veskServerAddress_ = std::move(address);
  if (networkLoadScheduler_) networkLoadScheduler_->setVeskServerAddress(veskServerAddress_);
}

std::optional<std::string> MOXContainer::veskServerAddress() {
  RecursiveMutexLock lock(mu_);
  return veskServerAddress_;
}

void MOXContainer::setVeskUrlPathAndQuery(std::optional<std::string> pathAndQuery) {
  RecursiveMutexLock lock(mu_);
  veskUrlPathAndQuery_ = std::move(pathAndQuery);
  if (networkLoadScheduler_) networkLoadScheduler_->setVeskUrlPathAndQuery(veskUrlPathAndQuery_);
}

std::optional<std::string> MOXContainer::veskUrlPathAndQuery() {
  RecursiveMutexLock lock(mu_);
  return veskUrlPathAndQuery_;
}

bool MOXContainer::isDefaultContainerRefreshMode() const {
  const auto manager = moxManager_.lock();
  return manager && manager->refreshMode() == kMOXRefreshModeDefaultContainer;
}

double MOXContainer::currentTimeInMilliseconds() const {
  return platform_->clock->nowMillis();
}

}  // namespace loomset
