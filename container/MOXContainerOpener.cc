#include "loomset/MOXContainerOpener.h"

#include <cstdio>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "Library/Util/platform/Mutex.h"
#include "Library/Util/platform/NoDestructor.h"
#include "container/MOXContainerFutureImpl.h"
#include "container/MOXContainerWaiters.h"
#include "container/MOXRefreshPolicy.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXManager.h"
#include "loomset/platform/Platform.h"

namespace loomset {
namespace {

constexpr double kExcessiveTimeoutSeconds = 100.0;

// The notifiers waiting for each container id while an opening of it is under way. Its lock is
// taken before the manager's.
struct NotifierMap {
  Mutex mu;
  std::map<std::string, std::vector<std::shared_ptr<MOXContainerOpenerNotifier>>> byContainerId
      GUARDED_BY(mu);
  // Ids whose opening has made its list but has not yet had the manager open the container.
  std::set<std::string> opening GUARDED_BY(mu);
};

NotifierMap& notifiersByContainerId() {
  static NoDestructor<NotifierMap> map;
  return *map;
}

double timeoutFrom(const double* given) {
  if (!given) return MOXContainerOpener::defaultTimeout();
  if (*given >= kExcessiveTimeoutSeconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", *given);
    MOXLog::warning(std::string("Excessive timeout detected (") + text +
                    "). Timeout should be in seconds.");
  }
  return *given;
}

}  // namespace

std::shared_ptr<MOXContainerFuture> MOXContainerOpener::openContainerWithId(
    const std::string& containerId, const std::shared_ptr<MOXManager>& moxManager,
    MOXOpenType openType, const double* timeoutSeconds) {
  if (containerId.empty()) {
    MOXLog::error("containerId must be non-nil");
    return nullptr;
  }
  if (!moxManager) {
    MOXLog::error("moxManager must be non-nil");
    return nullptr;
  }
  auto future = std::make_shared<MOXContainerFutureImpl>(Platform::current()->mainLoop);
  openContainerWithId(containerId, moxManager, openType, timeoutSeconds,
                      std::make_shared<MOXFutureNotifier>(future));
  future->setOpeningContainer(moxManager->getContainerById(containerId));
  return future;
}

std::shared_ptr<MOXContainerFuture> MOXContainerOpener::openContainerWithId(
    const std::string& containerId, const std::shared_ptr<MOXManager>& moxManager,
    MOXOpenType openType, double timeoutSeconds) {
  return openContainerWithId(containerId, moxManager, openType, &timeoutSeconds);
}

void MOXContainerOpener::openContainerWithId(const std::string& containerId,
                                             const std::shared_ptr<MOXManager>& moxManager,
                                             MOXOpenType openType, const double* timeoutSeconds,
                                             std::shared_ptr<MOXContainerOpenerNotifier> notifier) {
  if (containerId.empty()) {
    MOXLog::error("containerId must be non-nil");
    return;
  }
  if (!moxManager) {
    MOXLog::error("moxManager must be non-nil");
    return;
  }
  if (!notifier) {
    MOXLog::error("notifier must be non-nil");
    return;
  }
  std::shared_ptr<MOXContainerOpener> opener(
      new MOXContainerOpener(containerId, moxManager, timeoutSeconds, std::move(notifier)));
  opener->openWithRefreshType(openType != kMOXOpenTypePreferNonDefault ? 1 : 0);
}

MOXContainerOpener::MOXContainerOpener(std::string containerId,
                                       std::shared_ptr<MOXManager> moxManager,
                                       const double* timeoutSeconds,
                                       std::shared_ptr<MOXContainerOpenerNotifier> notifier)
    : containerId_(std::move(containerId)),
      moxManager_(std::move(moxManager)),
      timeout_(timeoutFrom(timeoutSeconds)),
      notifier_(std::move(notifier)) {}

MOXContainerOpener::~MOXContainerOpener() = default;

void MOXContainerOpener::openWithRefreshType(int refreshType) {
  const auto platform = Platform::current();
  const double start = platform->clock->nowSeconds();
  std::shared_ptr<MOXContainerOpenerNotifier> notifier;
  {
    MutexLock lock(mu_);
    notifier = std::move(notifier_);  // handed over below, one way or another
  }
  std::shared_ptr<MOXContainer> container;
  bool opening = false;
  {
    // The notifier map's lock, then the manager's (to look the container up). An opening under
    // way is one whose container is open, or one that is about to open it.
    NotifierMap& waiting = notifiersByContainerId();
    MutexLock mapLock(waiting.mu);
    container = moxManager_->getContainerById(containerId_);
    const auto inProgress = waiting.byContainerId.find(containerId_);
    if (inProgress != waiting.byContainerId.end() &&
        (container || waiting.opening.count(containerId_) != 0)) {
      // Served by the opening under way, with its open type and timeout.
      inProgress->second.push_back(std::move(notifier));
      return;
    }
    if (!container) {
      waiting.byContainerId[containerId_].push_back(std::move(notifier));
      waiting.opening.insert(containerId_);
      opening = true;
    }
  }
  if (opening) {
    // Opened after the map's lock is released: loading takes the container's lock, and the
    // container's callbacks hold it while they complete openings, which takes the map's lock.
    std::shared_ptr<MOXContainerCallback> waiter;
    if (refreshType == 1) {
      // A version fetched within the container's success period counts as fresh.
      waiter = std::make_shared<MOXWaitForFresh>(
          weak_from_this(),
          platform->clock->nowMillis() - MOXRefreshPolicy::kRefreshPeriodOnSuccess);
    } else {
      waiter = std::make_shared<MOXWaitForNonDefaultRefresh>(weak_from_this());
    }
    container = moxManager_->openContainerById(containerId_, std::move(waiter));
    {
      NotifierMap& waiting = notifiersByContainerId();
      MutexLock mapLock(waiting.mu);
      waiting.opening.erase(containerId_);
    }
    // Opened through the manager by someone else in the meantime: complete with that one.
    if (!container) container = moxManager_->getContainerById(containerId_);
  }
  if (notifier) {
    // Open and idle: available at once.
    notifier->containerAvailable(container);
    return;
  }

  MutexLock lock(mu_);
  container_ = container;
  if (haveNotified_) return;  // the container answered before the timer could be set
  const double delay = timeout_ - (platform->clock->nowSeconds() - start);
  // The pending timer keeps the opener alive until it fires or the opening completes.
  timer_ = platform->mainLoop->postAfter(
      delay, [self = shared_from_this(), container] { self->handleTimer(container); });
}

void MOXContainerOpener::handleTimer(const std::shared_ptr<MOXContainer>& container) {
  callNotifiers(container);
}

void MOXContainerOpener::callNotifiers(const std::shared_ptr<MOXContainer>& container) {
  std::shared_ptr<TimerHandle> timer;
  {
    MutexLock lock(mu_);
    if (haveNotified_) return;
    haveNotified_ = true;
    timer = std::move(timer_);
  }
  // Completed by its waiter: the timeout has nothing left to do.
  if (timer) timer->cancel();
  std::vector<std::shared_ptr<MOXContainerOpenerNotifier>> notifiers;
  {
    NotifierMap& waiting = notifiersByContainerId();
    MutexLock mapLock(waiting.mu);
    const auto it = waiting.byContainerId.find(containerId_);
    if (it != waiting.byContainerId.end()) {
      notifiers = std::move(it->second);
      waiting.byContainerId.erase(it);
    }
  }
  for (const auto& notifier : notifiers) notifier->containerAvailable(container);
}

}  // namespace loomset
