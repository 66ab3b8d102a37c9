// One HTTP request of the container half, run as an operation: started once (by MOXNetworking's
// queue), it sends its request through the HTTP client and finishes when the response has
// arrived, the transfer failed, or it was cancelled. Its completion is called at most once, on
// the worker thread "MOXThread", with the operation, whose `response`, `data` and `error` then
// tell the outcome.
//
// Threads: `start` and `cancel` may be called from any thread, `cancel` at any moment and more
// than once; the work itself happens on the worker thread. Read `response`, `data` and `error`
// on the worker thread (inside the completion) or after `isFinished`.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "loomset/platform/HttpClient.h"

namespace loomset {

// Why a request produced no (complete) response.
struct MOXNetError {
  HttpErrorCode code = HttpErrorCode::kTransport;
  std::string description;
};

class MOXNetOperation : public std::enable_shared_from_this<MOXNetOperation> {
 public:
  using Completion = std::function<void(const std::shared_ptr<MOXNetOperation>& operation)>;

  // Without a client, the platform bundle's is used.
  static std::shared_ptr<MOXNetOperation> operationWithRequest(
      HttpRequest request, Completion completion, std::shared_ptr<HttpClient> client = nullptr);

  const HttpRequest& request() const { return request_; }
  // Status, headers and final URL; its body is empty (the bytes are in `data`). Nothing before a
  // response arrived, after a transport failure, or after cancellation.
  const std::optional<HttpResponse>& response() const { return response_; }
  const std::optional<std::string>& data() const { return data_; }
  const std::optional<MOXNetError>& error() const { return error_; }

  bool isCancelled() const { return cancelled_.load(); }
  bool isExecuting() const { return executing_.load(); }
  bool isFinished() const { return finished_.load(); }
  bool isConcurrent() const { return true; }

  void start();
  // Stops the request and calls the completion (if it has not run yet) with no response and no
  // data. An operation cancelled before it started finishes as soon as it is started, without
  // sending anything; cancelling a finished operation does nothing.
  void cancel();

  // Called once on the worker thread when the operation becomes finished; the queue learns
  // through it that the next operation may start.
  void setFinishedObserver(std::function<void()> observer);

 private:
  MOXNetOperation(HttpRequest request, Completion completion, std::shared_ptr<HttpClient> client);
  void sendOnWorker();
  void onResponse(HttpResponse response);
  void finish();
  void markFinished();

  const HttpRequest request_;
  const std::shared_ptr<HttpClient> client_;

  // Worker thread only.
  Completion completion_;
  std::function<void()> finishedObserver_;
  std::shared_ptr<HttpCall> call_;
  std::optional<HttpResponse> response_;
  std::optional<std::string> data_;
  std::optional<MOXNetError> error_;

  std::atomic<bool> cancelled_{false};
  std::atomic<bool> executing_{false};
  std::atomic<bool> finished_{false};
};

}  // namespace loomset
