// One HTTP request of the analytics half, over the library's HttpClient. A process-wide dry-run
// switch makes connections complete at once as if the collector had answered 200 with an empty
// body, without any network traffic (so dispatched hits are deleted as sent).
//
// The completion runs exactly once, on the completion loop given at creation: with the response
// (a status, possibly 404 or 500), or with no response and the transport's error text, or, after
// `cancel`, with neither. The owner keeps the connection until then: a connection dropped while its
// request is in flight is abandoned, and its completion never runs.
//
// Threads: `setDryRun`/`dryRun` from any thread. `start` and `cancel` from any thread; the
// dispatcher calls them on the analytics worker thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "loomset/platform/HttpClient.h"

namespace loomset {

class EventLoop;

struct PLUURLConnectionResult {
  // The HTTP response; nothing when none arrived.
  std::optional<HttpResponse> response;
  // Why no response arrived; nothing on success and after `cancel`.
  std::optional<std::string> error;
};

class PLUURLConnection : public std::enable_shared_from_this<PLUURLConnection> {
 public:
  using Completion = std::function<void(const PLUURLConnectionResult&)>;

  static void setDryRun(bool dryRun);
  static bool dryRun();

  // The request is copied; nothing is sent before `start`. A null client uses the one of the
  // platform bundle in force.
  static std::shared_ptr<PLUURLConnection> create(HttpRequest request,
                                                  std::shared_ptr<EventLoop> completionQueue,
                                                  Completion completion,
                                                  std::shared_ptr<HttpClient> client = nullptr);

  // Sends the request, or completes as sent under dry run. Only the first call does anything.
  void start();
  // Drops the request; the completion runs with neither response nor error, unless it already
  // ran or was posted.
  void cancel();

  const HttpRequest& request() const { return request_; }

  struct Passkey {
   private:
    Passkey() = default;
    friend class PLUURLConnection;
  };
  PLUURLConnection(Passkey, HttpRequest request, std::shared_ptr<EventLoop> completionQueue,
                   Completion completion, std::shared_ptr<HttpClient> client);

 private:
  // Posts the completion unless it already was.
  void complete(PLUURLConnectionResult result);

  const HttpRequest request_;
  const std::shared_ptr<EventLoop> completionQueue_;
  const std::shared_ptr<HttpClient> client_;

  Mutex mu_;
  Completion completion_ GUARDED_BY(mu_);  // emptied when posted
  std::shared_ptr<HttpCall> call_ GUARDED_BY(mu_);
  bool started_ GUARDED_BY(mu_) = false;
};

}  // namespace loomset
