// The container half's request queue: sends URLs one at a time as MOXNetOperations with the
// container half's request settings (GET, the library's User-Agent, no caching, redirects
// followed) and the platform bundle's HTTP settings (proxy, authorities, time-out), and tracks
// whether the network is reachable. The pixel dispatcher sends its hits through it and asks
// `isReachable` before dispatching.
//
// Reachability: a MOXNetReachability watches a host (configurable; a stable public host by
// default); `isReachable` starts true, turns false when the host is reported not reachable and
// true again on any other status.
//
// Threads: any thread may send and read `isReachable`. Completions run on the worker thread
// "MOXThread".
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "container/MOXNetOperation.h"
#include "container/MOXNetReachability.h"
#include "loomset/platform/HttpClient.h"

namespace loomset {

inline constexpr char kMOXNetworkingDefaultReachabilityHost[] = "www.example.com";

class MOXNetworking : public std::enable_shared_from_this<MOXNetworking> {
 public:
  struct Options {
    std::string reachabilityHost = kMOXNetworkingDefaultReachabilityHost;
    // How the host is watched; the platform bundle's watchers when empty.
    MOXReachabilityWatcherFactory watcherFactory;
    // The platform bundle's client when empty.
    std::shared_ptr<HttpClient> client;
  };

  static std::shared_ptr<MOXNetworking> create();
  static std::shared_ptr<MOXNetworking> create(Options options);
  ~MOXNetworking();  // stops watching; queued operations still run
  MOXNetworking(const MOXNetworking&) = delete;
  MOXNetworking& operator=(const MOXNetworking&) = delete;

  // Queues a GET of the URL and returns its operation.
  std::shared_ptr<MOXNetOperation> sendURL(const std::string& url,
                                           MOXNetOperation::Completion completion);
  static HttpRequest requestWithURL(const std::string& url);
  // Queues an operation; it starts when every operation queued before it has finished.
  void addOperation(std::shared_ptr<MOXNetOperation> operation);
  // Operations queued or running.
  std::size_t operationCount() const;

  bool isReachable() const { return reachable_.load(); }
  void setIsReachable(bool reachable) { reachable_.store(reachable); }
  const std::shared_ptr<MOXNetReachability>& reachability() const { return reachability_; }

 private:
  explicit MOXNetworking(Options options);
  void startReachability();
  void operationFinished(const std::shared_ptr<MOXNetOperation>& operation);
  // Starts the next queued operation when none is running.
  void startNextIfIdle();

  const std::shared_ptr<HttpClient> client_;
  const HttpSettings settings_;
  const std::shared_ptr<MOXNetReachability> reachability_;
  std::atomic<bool> reachable_{true};

  mutable Mutex mu_;
  std::deque<std::shared_ptr<MOXNetOperation>> waiting_ GUARDED_BY(mu_);
  std::shared_ptr<MOXNetOperation> running_ GUARDED_BY(mu_);
};

}  // namespace loomset
