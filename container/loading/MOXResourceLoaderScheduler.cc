#include "container/loading/MOXResourceLoaderScheduler.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "loomset/MOXLog.h"
#include "loomset/platform/Platform.h"

namespace loomset {

std::shared_ptr<MOXResourceLoaderScheduler> MOXResourceLoaderScheduler::create(
    std::string containerId) {
  return create(std::move(containerId), Options());
}

std::shared_ptr<MOXResourceLoaderScheduler> MOXResourceLoaderScheduler::create(
    std::string containerId, Options options) {
  return std::shared_ptr<MOXResourceLoaderScheduler>(
      new MOXResourceLoaderScheduler(std::move(containerId), std::move(options)));
}

namespace {

std::shared_ptr<EventLoop> loopOrMain(std::shared_ptr<EventLoop> loop) {
  return loop ? std::move(loop) : Platform::current()->mainLoop;
}

MOXResourceLoader::Options withLoop(MOXResourceLoader::Options options,
                                    const std::shared_ptr<EventLoop>& loop) {
  if (!options.loop) options.loop = loop;
  return options;
}

}  // namespace

MOXResourceLoaderScheduler::MOXResourceLoaderScheduler(std::string containerId, Options options)
    : containerId_(std::move(containerId)),
      loop_(loopOrMain(std::move(options.loop))),
      loaderOptions_(withLoop(std::move(options.loader), loop_)) {}

MOXResourceLoaderScheduler::~MOXResourceLoaderScheduler() {
  MutexLock lock(mu_);
  cancelTimer();
}

void MOXResourceLoaderScheduler::loadAfterDelay(double delayMillis,
                                                std::optional<std::string> previousVersion) {
  if (MOXLog::enabled(kMOXLogLevelVerbose)) {
    char delay[64];
    std::snprintf(delay, sizeof delay, "%f", delayMillis);
    MOXLog::verbose("scheduleTask: containerId=" + containerId_ + " delay=" + delay);
  }
  MutexLock lock(mu_);
  if (closed_) return;
  cancelTimer();
  previousVersion_ = std::move(previousVersion);
  scheduleTimerWithDelay(delayMillis);
}

void MOXResourceLoaderScheduler::close() {
  std::vector<std::weak_ptr<MOXResourceLoader>> loaders;
  {
    MutexLock lock(mu_);
    closed_ = true;
    cancelTimer();
    loaders.swap(loaders_);
  }
  for (const auto& weak : loaders) {
    if (auto loader = weak.lock()) loader->cancel();
  }
}

void MOXResourceLoaderScheduler::scheduleTimerWithDelay(double delayMillis) {
  const std::uint64_t generation = ++timerGeneration_;
  if (!loop_) return;
  std::weak_ptr<MOXResourceLoaderScheduler> weakSelf = weak_from_this();
  timer_ = loop_->postAfter(delayMillis / 1000.0, [weakSelf, generation] {
    if (auto self = weakSelf.lock()) self->timerFired(generation);
  });
}

void MOXResourceLoaderScheduler::cancelTimer() {
  ++timerGeneration_;  // a timer firing on another thread right now finds itself replaced
  if (timer_) timer_->cancel();
  timer_.reset();
}

void MOXResourceLoaderScheduler::timerFired(std::uint64_t generation) {
  {
    MutexLock lock(mu_);
    if (closed_ || generation != timerGeneration_) return;
    timer_.reset();
  }
  requestResource();
}

void MOXResourceLoaderScheduler::requestResource() {
  std::shared_ptr<MOXResourceLoader> loader;
  {
    MutexLock lock(mu_);
    if (closed_) return;
    if (!loadCallback_) {
      // Raised, this would end the process from inside the loop; the schedule just stops here.
      MOXLog::error("Callback must be set before scheduleTaskWithDelay is called.");
      return;
    }
    loader = MOXResourceLoader::create(containerId_, loaderOptions_);
    loader->setCallback(loadCallback_);
    if (serverAddress_) {
      MOXLog::debug("Setting VESK server address to " + *serverAddress_);
      loader->setVeskServerAddress(*serverAddress_);
    }
    if (pathAndQuery_) MOXLog::debug("Setting VESK url path to " + *pathAndQuery_);
    loader->setVeskUrlPathAndQuery(pathAndQuery_);
    loader->setPreviousVersion(previousVersion_);
    // Registered before it starts, so that a `close` from now on cancels it.
    loaders_.erase(std::remove_if(loaders_.begin(), loaders_.end(),
                                  [](const auto& weak) { return weak.expired(); }),
                   loaders_.end());
    loaders_.push_back(loader);
  }
  loader->loadResourceAsync();
}

void MOXResourceLoaderScheduler::setLoadCallback(
    std::shared_ptr<MOXNetworkLoadCallbackInterface> callback) {
  MutexLock lock(mu_);
  loadCallback_ = std::move(callback);
}

std::shared_ptr<MOXNetworkLoadCallbackInterface> MOXResourceLoaderScheduler::loadCallback() const {
  MutexLock lock(mu_);
  return loadCallback_;
}

void MOXResourceLoaderScheduler::setVeskServerAddress(std::optional<std::string> address) {
  MutexLock lock(mu_);
  serverAddress_ = std::move(address);
}

std::optional<std::string> MOXResourceLoaderScheduler::veskServerAddress() const {
  MutexLock lock(mu_);
  return serverAddress_;
}

void MOXResourceLoaderScheduler::setVeskUrlPathAndQuery(std::optional<std::string> pathAndQuery) {
  MutexLock lock(mu_);
  pathAndQuery_ = std::move(pathAndQuery);
}

std::optional<std::string> MOXResourceLoaderScheduler::veskUrlPathAndQuery() const {
  MutexLock lock(mu_);
  return pathAndQuery_;
}

void MOXResourceLoaderScheduler::setPreviousVersion(std::optional<std::string> previousVersion) {
  MutexLock lock(mu_);
  previousVersion_ = std::move(previousVersion);
}

std::optional<std::string> MOXResourceLoaderScheduler::previousVersion() const {
  MutexLock lock(mu_);
  return previousVersion_;
}

bool MOXResourceLoaderScheduler::hasPendingFetch() const {
  MutexLock lock(mu_);
  return timer_ != nullptr;
}

bool MOXResourceLoaderScheduler::isClosed() const {
  MutexLock lock(mu_);
  return closed_;
}

}  // namespace loomset
