#include "loomset/MOXManager.h"

#include <exception>
#include <utility>
#include <vector>

#include "Library/Util/platform/Mutex.h"
#include "Library/Util/platform/NoDestructor.h"
#include "container/MOXCliquetClickReferrerListener.h"
#include "container/MOXContainerStatusObservers.h"
#include "container/MOXManagerListener.h"
#include "container/MOXPixelNetworking.h"
#include "container/preview/MOXPreviewManager.h"
#include "datalayer/MOXDataLayerPersistentStoreImpl.h"
#include "loomset/Exceptions.h"
#include "loomset/platform/Platform.h"
#include "tags/MOXHitDelivery.h"

namespace loomset {
namespace {

// The store behind the manager's data layer: values pushed with a lifetime are kept under the
// platform's data root ("orvex_loomset.db") and restored by the next manager over it.
std::shared_ptr<MOXDataLayerPersistentStore> dataLayerStore(
    const std::shared_ptr<const Platform>& platform) {
  return std::make_shared<MOXDataLayerPersistentStoreImpl>(platform);
}

std::string reasonOf(const std::exception& e) {
  if (const auto* named = dynamic_cast<const LoomsetException*>(&e)) return named->reason();
  return e.what();
}

// The remembered manager, behind the class-wide lock.
struct Remembered {
  Mutex mu;
  std::shared_ptr<MOXManager> manager GUARDED_BY(mu);
};

Remembered& remembered() {
  static NoDestructor<Remembered> instance;
  return *instance;
}

}  // namespace

std::shared_ptr<MOXManager> MOXManager::instance() {
  return createWithSameInstance(true);
}

std::shared_ptr<MOXManager> MOXManager::createWithSameInstance(bool sameInstance) {
  Remembered& r = remembered();
  MutexLock lock(r.mu);
  if (sameInstance && r.manager) return r.manager;
  std::shared_ptr<MOXManager> manager(new MOXManager(Platform::current()));
  manager->registerListeners();
  r.manager = manager;
  return manager;
}

void MOXManager::clearManagerInstance() {
  std::shared_ptr<MOXManager> forgotten;
  Remembered& r = remembered();
  {
    MutexLock lock(r.mu);
    forgotten = std::move(r.manager);
  }
  // Released outside the lock: its containers may still call back into the class.
}

MOXManager::MOXManager(std::shared_ptr<const Platform> platform)
    : platform_(std::move(platform)),
      dataLayer_(MOXDataLayer::createWithPersistentStore(dataLayerStore(platform_))),
      statusObservers_(std::make_shared<MOXContainerStatusObservers>()) {
  installPixelNetworking();
}

MOXManager::~MOXManager() = default;

void MOXManager::registerListeners() {
  // In this order: events reach the containers before the referrer of the same update is kept.
  dataLayer_->registerListener(std::make_shared<MOXManagerListener>(weak_from_this()));
  dataLayer_->registerListener(std::make_shared<MOXCliquetClickReferrerListener>());
}

// ---- Containers ------------------------------------------------------------------------------

std::shared_ptr<MOXContainer> MOXManager::openContainerById(
    const std::string& containerId, std::shared_ptr<MOXContainerCallback> callback) {
  std::shared_ptr<MOXContainer> container;
  try {
    std::optional<std::string> serverAddress;
    {
      MutexLock lock(mu_);
      if (containers_.count(containerId) != 0) {
        MOXLog::error("Container id: " + containerId + " has already been opened");
        return nullptr;
      }
      // Building a container takes none of its locks.
      container = containerById(containerId);
      containers_[containerId] = container;
      serverAddress = veskServerAddress_;
    }
    // Outside the manager's lock, as a container's lock is taken before the manager's (a closing
    // container holds its own while it takes the manager's): the server address, then loading.
    // The loading started here is what uses the address.
    if (serverAddress) container->setVeskServerAddress(serverAddress);
    container->loadWithCallback(std::move(callback));
  } catch (const std::exception& e) {
    MOXLog::error("Calling openContainerById threw an exception: " + reasonOf(e));
  }
  return container;
}

std::shared_ptr<MOXContainer> MOXManager::containerById(const std::string& containerId) {
  return MOXContainer::create(containerId, shared_from_this());
}

std::shared_ptr<MOXContainer> MOXManager::getContainerById(const std::string& containerId) {
  MutexLock lock(mu_);
  const auto it = containers_.find(containerId);
  return it == containers_.end() ? nullptr : it->second;
}

void MOXManager::removeContainerById(const std::string& containerId) {
  std::shared_ptr<MOXContainer> removed;
  MutexLock lock(mu_);
  const auto it = containers_.find(containerId);
  if (it == containers_.end()) return;
  removed = std::move(it->second);
  containers_.erase(it);
}

void MOXManager::refreshTagsInAllContainers(const std::string& eventName) {
  std::vector<std::shared_ptr<MOXContainer>> open;
  {
    MutexLock lock(mu_);
    open.reserve(containers_.size());
    for (const auto& entry : containers_) open.push_back(entry.second);
  }
  for (const auto& container : open) container->evaluateTags(eventName);
}

bool MOXManager::previewWithUrl(const std::string& url) {
  bool recognised = false;
  try {
    const auto preview = MOXPreviewManager::instance();
    if (!preview->generatePreviewDataForUrl(url)) return false;
    recognised = true;
    const auto previewId = preview->containerId();
    const auto previewPath = preview->veskUrlPath();
    const bool entering = preview->previewMode() == 1;

    std::vector<std::shared_ptr<MOXContainer>> open;
    {
      MutexLock lock(mu_);
      for (const auto& entry : containers_) open.push_back(entry.second);
    }
    // Applied after the manager's lock is released, since each step takes a container's lock.
    for (const auto& container : open) {
      if (previewId && container->containerId() == *previewId) {
        container->setVeskUrlPathAndQuery(entering ? previewPath : std::nullopt);
        container->refresh();
      } else if (entering && container->veskUrlPathAndQuery()) {
        // Previewing another id ends this container's preview.
        container->setVeskUrlPathAndQuery(std::nullopt);
        container->refresh();
      }
    }
    return true;
  } catch (const std::exception& e) {
    MOXLog::error("Calling previewWithUrl threw an exception: " + reasonOf(e));
    return recognised;
  }
}

// ---- Settings --------------------------------------------------------------------------------

MOXRefreshMode MOXManager::refreshMode() const {
  return static_cast<MOXRefreshMode>(refreshMode_.load());
}

void MOXManager::setRefreshMode(MOXRefreshMode mode) {
  refreshMode_.store(mode);
}

std::optional<std::string> MOXManager::veskServerAddress() const {
  MutexLock lock(mu_);
  return veskServerAddress_;
}

void MOXManager::setVeskServerAddress(std::optional<std::string> address) {
  MutexLock lock(mu_);
  veskServerAddress_ = std::move(address);
}

std::shared_ptr<MOXLogger> MOXManager::logger() const {
  return MOXLog::logger();
}

void MOXManager::setLogger(std::shared_ptr<MOXLogger> logger) {
  MOXLog::setLogger(std::move(logger));
}

// ---- Dispatch --------------------------------------------------------------------------------

double MOXManager::dispatchInterval() {
  return MOXHitDelivery::dispatchInterval();
}

void MOXManager::setDispatchInterval(double seconds) {
  MOXHitDelivery::setDispatchInterval(seconds);
}

void MOXManager::dispatch() {
  MOXHitDelivery::dispatch();
}

void MOXManager::dispatchWithCompletionHandler(DispatchCompletion handler) {
  MOXHitDelivery::dispatchWithCompletionHandler(std::move(handler));
}

MOXFlushResult MOXManager::flush(double timeoutSeconds) {
  const MOXHitDelivery::FlushOutcome outcome = MOXHitDelivery::flush(timeoutSeconds);
  MOXFlushResult result;
  result.hitsSent = outcome.hits.hitsSent;
  result.hitsDeleted = outcome.hits.hitsDeleted;
  result.hitsLeft = outcome.hits.hitsLeft;
  result.pixelsSent = outcome.pixelsSent;
  result.pixelsLeft = outcome.pixelsLeft;
  result.timedOut = outcome.hits.timedOut || outcome.pixelsTimedOut;
  return result;
}

// ---- Status observers ------------------------------------------------------------------------

MOXObserverToken MOXManager::addContainerStatusObserver(MOXContainerStatusObserver observer) {
  return statusObservers_->add(std::move(observer));
}

void MOXManager::removeContainerStatusObserver(MOXObserverToken token) {
  statusObservers_->remove(token);
}

void MOXManager::postContainerStatus(const MOXContainerStatus& status) {
  statusObservers_->post(*platform_->mainLoop, status);
}

void MOXManager::applicationWillResignActive() {
  MOXHitDelivery::saveAllStores();
}

void MOXManager::applicationWillTerminate() {
  MOXHitDelivery::saveAllStores();
}

}  // namespace loomset
