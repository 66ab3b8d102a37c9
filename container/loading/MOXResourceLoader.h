// One fetch of a container from the container server:
//   GET <server address><path and query>&v=i107577340[&pv=<previous version>]
// where the path and query is "/r?id=<container id>" unless overridden (preview mode), and "pv"
// is added only when the previous version is known and not blank. The answer is reported to the
// load callback:
//   200 and a body that parses   onSuccess(the MOXPLegacyRawProtoSupplementedResource)
//   200 and a body that does not onFailure(kMOXLoadFailureServerError)
//   404                          onFailure(kMOXLoadFailureServerError)
//   any other status             onFailure(kMOXLoadFailureIOError)
//   no answer (refused, reset, no answer within the time-out, ...)
//                                onFailure(kMOXLoadFailureNotAvailable)
// `startLoad` comes first when the request was sent. Exactly one of `onSuccess` and `onFailure`
// follows per started fetch, unless the fetch is cancelled: after `cancel` the callback hears
// nothing more.
//
// A loader serves one fetch; it keeps itself alive until its answer has been delivered.
//
// Threads: configure and start it on one thread. The callback is called on the loop named in the
// options (the platform's main loop by default), except that `startLoad` and a failure to send are
// reported inside `loadResourceAsync`. `cancel` may be called from any thread; called on the
// callback's loop, no callback runs after it returns.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "container/loading/MOXLoadCallback.h"
#include "loomset/platform/EventLoop.h"
#include "loomset/platform/HttpClient.h"
#include "loomset/proto/serving.pb.h"

namespace loomset {

using MOXNetworkLoadCallbackInterface = MOXLoadCallback<MOXPLegacyRawProtoSupplementedResource>;

// The container server when none is configured.
inline constexpr char kMOXDefaultVeskServerAddress[] = "https://loomset.orvex.com";
// A server that takes longer than this to answer a fetch is treated as unreachable.
inline constexpr double kMOXResourceLoaderTimeoutSeconds = 60;

class MOXResourceLoader : public std::enable_shared_from_this<MOXResourceLoader> {
 public:
  struct Options {
    // The platform's client when empty.
    std::shared_ptr<HttpClient> client;
    // Where the answer is delivered; the platform's main loop when empty.
    std::shared_ptr<EventLoop> loop;
    double timeoutSeconds = kMOXResourceLoaderTimeoutSeconds;
  };

  static std::shared_ptr<MOXResourceLoader> create(std::string containerId);
  static std::shared_ptr<MOXResourceLoader> create(std::string containerId, Options options);
  ~MOXResourceLoader();
  MOXResourceLoader(const MOXResourceLoader&) = delete;
  MOXResourceLoader& operator=(const MOXResourceLoader&) = delete;

  // "i" followed by the runtime's version number.
  static std::string sdkVersion();

  void setCallback(std::shared_ptr<MOXNetworkLoadCallbackInterface> callback);
  // Scheme, host and port, without a trailing "/"; nothing restores the default server.
  void setVeskServerAddress(std::optional<std::string> address);
  // Nothing restores "/r?id=<container id>".
  void setVeskUrlPathAndQuery(std::optional<std::string> pathAndQuery);
  void setPreviousVersion(std::optional<std::string> previousVersion);

  const std::string& containerId() const { return containerId_; }
  const std::string& defaultVeskUrlPathAndQuery() const { return defaultPathAndQuery_; }
  std::string veskUrl() const;

  // Sends the request. A loader is started once; later calls, and calls after `cancel`, do
  // nothing.
  void loadResourceAsync();
  // Stops the fetch; its callback hears nothing more.
  void cancel();
  bool isCancelled() const { return cancelled_.load(); }

 private:
  MOXResourceLoader(std::string containerId, Options options);
  void finish(HttpResponse response);
  void deliverSuccess(const std::string& url, const std::string& body);
  void deliverFailure(MOXLoadFailure failure);

  const std::string containerId_;
  const std::string defaultPathAndQuery_;
  const Options options_;

  // Set before the start, on the starting thread.
  std::shared_ptr<MOXNetworkLoadCallbackInterface> callback_;
  std::string serverAddress_;
  std::string pathAndQuery_;
  std::optional<std::string> previousVersion_;

  std::atomic<bool> started_{false};
  std::atomic<bool> cancelled_{false};
  Mutex callMu_;
  std::shared_ptr<HttpCall> call_ GUARDED_BY(callMu_);
};

}  // namespace loomset
