// The one pending network fetch of a container. `loadAfterDelay` replaces whatever was pending
// with a fetch after the delay; when its timer fires, a MOXResourceLoader is made with the
// container's current server address, path override and previous version, and started. `close`
// cancels the pending timer and the fetch under way, so nothing calls back afterwards.
//
// The container chooses the delays: 12 hours after a success, 1 hour after a failure, at once
// after a failed saved-resource load or an accepted refresh, and the rest of 12 hours after a saved
// resource is applied. Nothing retries on its own.
//
// Ownership: create it with `create`. A pending timer does not keep the scheduler alive: a
// scheduler that is dropped fetches nothing more. A fetch under way keeps its loader alive.
// Threads: every operation may be called from any thread. Timers fire, and fetches report to the
// load callback, on the loop given in the options (the platform's main loop by default).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Library/Util/platform/Mutex.h"
#include "container/loading/MOXResourceLoader.h"
#include "loomset/platform/EventLoop.h"

namespace loomset {

class MOXResourceLoaderScheduler : public std::enable_shared_from_this<MOXResourceLoaderScheduler> {
 public:
  struct Options {
    // Where timers fire and fetches answer; the platform's main loop when empty.
    std::shared_ptr<EventLoop> loop;
    // For each fetch; its loop, when empty, is the scheduler's.
    MOXResourceLoader::Options loader;
  };

  static std::shared_ptr<MOXResourceLoaderScheduler> create(std::string containerId);
  static std::shared_ptr<MOXResourceLoaderScheduler> create(std::string containerId,
                                                            Options options);
  ~MOXResourceLoaderScheduler();
  MOXResourceLoaderScheduler(const MOXResourceLoaderScheduler&) = delete;
  MOXResourceLoaderScheduler& operator=(const MOXResourceLoaderScheduler&) = delete;

  // Replaces any pending fetch by one `delayMillis` from now, sending `previousVersion` as "pv".
  // Does nothing once closed.
  void loadAfterDelay(double delayMillis, std::optional<std::string> previousVersion);
  // Cancels the pending fetch and the fetch under way; the scheduler then fetches nothing more.
  void close();

  // The timer's action: starts a fetch now. Without a load callback it fetches nothing and logs
  // the error "Callback must be set before scheduleTaskWithDelay is called.".
  void requestResource();

  void setLoadCallback(std::shared_ptr<MOXNetworkLoadCallbackInterface> callback);
  std::shared_ptr<MOXNetworkLoadCallbackInterface> loadCallback() const;
  void setVeskServerAddress(std::optional<std::string> address);
  std::optional<std::string> veskServerAddress() const;
  void setVeskUrlPathAndQuery(std::optional<std::string> pathAndQuery);
  std::optional<std::string> veskUrlPathAndQuery() const;
  void setPreviousVersion(std::optional<std::string> previousVersion);
  std::optional<std::string> previousVersion() const;
  const std::string& containerId() const { return containerId_; }

  bool hasPendingFetch() const;
  bool isClosed() const;

 private:
  MOXResourceLoaderScheduler(std::string containerId, Options options);
  void scheduleTimerWithDelay(double delayMillis) REQUIRES(mu_);
  void cancelTimer() REQUIRES(mu_);
  // Fires the timer of that generation, unless it has been replaced or cancelled meanwhile.
  void timerFired(std::uint64_t generation);

  const std::string containerId_;
  const std::shared_ptr<EventLoop> loop_;
  const MOXResourceLoader::Options loaderOptions_;

  mutable Mutex mu_;
  std::shared_ptr<MOXNetworkLoadCallbackInterface> loadCallback_ GUARDED_BY(mu_);
  std::optional<std::string> serverAddress_ GUARDED_BY(mu_);
  std::optional<std::string> pathAndQuery_ GUARDED_BY(mu_);
  std::optional<std::string> previousVersion_ GUARDED_BY(mu_);
  std::shared_ptr<TimerHandle> timer_ GUARDED_BY(mu_);
  std::uint64_t timerGeneration_ GUARDED_BY(mu_) = 0;
  // Fetches started and perhaps still under way (a refresh may start one while another runs).
  std::vector<std::weak_ptr<MOXResourceLoader>> loaders_ GUARDED_BY(mu_);
  bool closed_ GUARDED_BY(mu_) = false;
};

}  // namespace loomset
