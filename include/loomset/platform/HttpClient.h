// The library's HTTP client: value-type requests and responses, asynchronous sends whose
// completion runs exactly once on an event loop the caller names, and cancellation. Every request
// of the library goes through the `http` client of the platform bundle (libcurl by default), so an
// application can hand in a transport of its own and a test a scripted one.
//
// A response with a status (even 404 or 500) is not an error at this level: `errorCode` reports
// only that no complete response arrived (connection refused, timeout, cancelled, ...). Callers
// decide what a status means.
//
// Threads: `send` and `HttpCall::cancel` may be called from any thread. Completions run on the
// loop given to `send`, never inline inside `send` or `cancel`.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "loomset/Export.h"
#include "loomset/platform/EventLoop.h"

namespace loomset {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct LOOMSET_EXPORT HttpRequest {
  std::string method = "GET";
  std::string url;
  // Sent in this order; a header the transport would add itself is replaced by one given here.
  HttpHeaders headers;
  std::string body;  // bytes; sent when not empty (and always for POST)
  double timeoutSeconds = 60;
  bool followRedirects = true;
  // The most bytes of the response body kept in HttpResponse::body; the rest is read and
  // discarded, so that a request whose answer nobody reads holds no more than this however much
  // the server sends. The request completes as usual either way.
  std::size_t bodyBytesKept = std::numeric_limits<std::size_t>::max();
};

// What the library keeps of the bodies it does not read (answers to hits and pixels).
inline constexpr std::size_t kHttpIgnoredBodyBytesKept = 64 * 1024;

enum class HttpErrorCode {
  kNone = 0,
  kCancelled,
  kInvalidRequest,  // malformed URL, unsupported scheme or method
  kCouldNotResolveHost,
  kCouldNotConnect,
  kTimedOut,
  kTooManyRedirects,
  kTransport,  // any other failure on the way (TLS, reset connection, bad response, ...)
  kShutDown,   // the client went away before the request finished
};

struct LOOMSET_EXPORT HttpResponse {
  int status = 0;       // 0 when no response arrived
  HttpHeaders headers;  // of the final response (after redirects), in arrival order
  std::string body;
  std::string url;  // the final URL, after redirects
  HttpErrorCode errorCode = HttpErrorCode::kNone;
  std::string errorText;

  bool hasError() const { return errorCode != HttpErrorCode::kNone; }
  // The first header of that name, compared without regard to case.
  std::optional<std::string> header(std::string_view name) const;
};

// One request in flight. Cancelling it before its completion has been posted makes the
// completion report kCancelled; afterwards it does nothing. Safe at any moment, more than once.
class LOOMSET_EXPORT HttpCall {
 public:
  virtual ~HttpCall() = default;
  virtual void cancel() = 0;
};

class LOOMSET_EXPORT HttpClient {
 public:
  using Completion = std::function<void(HttpResponse)>;

  virtual ~HttpClient() = default;
  HttpClient() = default;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Starts the request and returns at once. `completion` runs once, on `loop`.
  virtual std::shared_ptr<HttpCall> send(HttpRequest request, std::shared_ptr<EventLoop> loop,
                                         Completion completion) = 0;
};

}  // namespace loomset
