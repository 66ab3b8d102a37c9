#include "Library/Util/http/CurlHttpClient.h"

#include <curl/curl.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "Library/Util/platform/Mutex.h"
#include "loomset/MOXLog.h"

namespace loomset {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

HttpErrorCode errorCodeFor(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return HttpErrorCode::kNone;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return HttpErrorCode::kInvalidRequest;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return HttpErrorCode::kCouldNotResolveHost;
    case CURLE_COULDNT_CONNECT:
      return HttpErrorCode::kCouldNotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpErrorCode::kTimedOut;
    case CURLE_TOO_MANY_REDIRECTS:
      return HttpErrorCode::kTooManyRedirects;
    default:
      return HttpErrorCode::kTransport;
  }
}

// Loopback is never proxied, whatever the settings or the environment say about other hosts.
// The hosts the application lists replace the environment's, as a proxy it sets replaces theirs.
std::string noProxyList(const std::optional<std::string>& configured) {
  std::string list = "localhost,127.0.0.1,::1";
  std::optional<std::string> extra = configured;
  if (!extra) {
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
      if (const char* value = std::getenv(name); value && *value) {
        extra = value;
        break;
      }
    }
  }
  if (extra && !extra->empty()) {
    if (trim(*extra) == "*") return "*";
    list += ",";
    list += *extra;
  }
  return list;
}

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

std::optional<std::string> HttpResponse::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

class CurlHttpClient::Transfer final : public HttpCall,
                                       public std::enable_shared_from_this<Transfer> {
 public:
  Transfer(HttpRequest request, std::shared_ptr<EventLoop> loop, Completion completion,
           std::weak_ptr<Impl> owner)
      : request_(std::move(request)),
        loop_(std::move(loop)),
        completion_(std::move(completion)),
        owner_(std::move(owner)) {}

  ~Transfer() override { release(); }

  void cancel() override;

  // Posts the completion unless it already was; true for the caller that posted it.
  bool complete(HttpResponse response) {
    if (done_.exchange(true)) return false;
    Completion completion = std::move(completion_);
    if (completion && loop_) {
      loop_->post([completion = std::move(completion), response = std::move(response)]() mutable {
        completion(std::move(response));
      });
    }
    return true;
  }

  bool isDone() const { return done_.load(); }

  // Transfer-thread only from here on.
  CURL* prepare();
  void finish(CURLcode code);
  CURL* easy() const { return easy_; }
  void release() {
    if (easy_) curl_easy_cleanup(easy_);
    easy_ = nullptr;
    if (headerList_) curl_slist_free_all(headerList_);
    headerList_ = nullptr;
  }

 private:
  static size_t onBody(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<Transfer*>(self);
    std::string& body = transfer->response_.body;
    const std::size_t kept = transfer->request_.bodyBytesKept;
    const std::size_t room = body.size() < kept ? kept - body.size() : 0;
    body.append(data, std::min(room, size * count));
    return size * count;  // the rest is read and dropped
  }

  static size_t onHeader(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<Transfer*>(self);
    const std::string_view line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
      // A new response starts (after a redirect or an interim 1xx): only the last one counts.
      transfer->response_.headers.clear();
    } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
      transfer->response_.headers.emplace_back(std::string(trim(line.substr(0, colon))),
                                               std::string(trim(line.substr(colon + 1))));
    }
    return size * count;
  }

  const HttpRequest request_;
  const std::shared_ptr<EventLoop> loop_;
  Completion completion_;  // moved out by whoever completes first
  const std::weak_ptr<Impl> owner_;
  std::atomic<bool> done_{false};

  CURL* easy_ = nullptr;
  curl_slist* headerList_ = nullptr;
  HttpResponse response_;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
};

class CurlHttpClient::Impl {
 public:
  Impl() : multi_(curl_multi_init()) {}
  ~Impl() {
    if (multi_) curl_multi_cleanup(multi_);
  }

  bool usable() const { return multi_ != nullptr; }

  void startThread() {
    thread_ = std::thread([this] { run(); });
  }

  void stopAndJoin() {
    {
      MutexLock lock(mu_);
      stopping_ = true;
    }
    curl_multi_wakeup(multi_);
    if (thread_.joinable()) thread_.join();
  }

  // False once the client is shutting down.
  bool enqueue(std::shared_ptr<Transfer> transfer) {
    {
      MutexLock lock(mu_);
      if (stopping_) return false;
      incoming_.push_back(std::move(transfer));
    }
    curl_multi_wakeup(multi_);
    return true;
  }

  void removeLater(std::shared_ptr<Transfer> transfer) {
    {
      MutexLock lock(mu_);
      if (stopping_) return;
      cancelled_.push_back(std::move(transfer));
    }
    curl_multi_wakeup(multi_);
  }

 private:
  void run() EXCLUDES(mu_);
  void drop(const std::shared_ptr<Transfer>& transfer) {
    if (!transfer->easy()) return;
    curl_multi_remove_handle(multi_, transfer->easy());
    active_.erase(transfer->easy());
    transfer->release();
  }

  // Constant after construction.
  CURLM* const multi_;
  // Started and joined by the owning client.
  std::thread thread_;

  // Handed from the asking threads to the transfer thread.
  Mutex mu_;
  bool stopping_ GUARDED_BY(mu_) = false;
  std::deque<std::shared_ptr<Transfer>> incoming_ GUARDED_BY(mu_);
  std::vector<std::shared_ptr<Transfer>> cancelled_ GUARDED_BY(mu_);

  std::unordered_map<CURL*, std::shared_ptr<Transfer>> active_;  // transfer thread only
};

void CurlHttpClient::Transfer::cancel() {
  HttpResponse response;
  response.url = request_.url;
  response.errorCode = HttpErrorCode::kCancelled;
  response.errorText = "cancelled";
  if (!complete(std::move(response))) return;
  if (auto owner = owner_.lock()) owner->removeLater(shared_from_this());
}

CURL* CurlHttpClient::Transfer::prepare() {
  easy_ = curl_easy_init();
  if (!easy_) return nullptr;
  CURL* e = easy_;
  curl_easy_setopt(e, CURLOPT_URL, request_.url.c_str());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // Without CURLOPT_PROXY curl reads the proxy variables of the environment itself.
  if (request_.proxy) curl_easy_setopt(e, CURLOPT_PROXY, request_.proxy->c_str());
  curl_easy_setopt(e, CURLOPT_NOPROXY, noProxyList(request_.noProxy).c_str());
  if (!request_.caBundlePath.empty()) {
    curl_easy_setopt(e, CURLOPT_CAINFO, request_.caBundlePath.c_str());
    curl_easy_setopt(e, CURLOPT_PROXY_CAINFO, request_.caBundlePath.c_str());
  }
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer_);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, request_.followRedirects ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 16L);
  if (std::isfinite(request_.timeoutSeconds) && request_.timeoutSeconds > 0) {
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(std::min(request_.timeoutSeconds * 1000.0, 2.0e9)));
  }

  const std::string& method = request_.method;
  const bool hasBody = !request_.body.empty() || method == "POST";
  if (method == "GET" && !hasBody) {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  } else if (method == "HEAD") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else {
    if (method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (hasBody) {
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request_.body.size()));
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, request_.body.data());
    }
  }

  for (const auto& [name, value] : request_.headers) {
    // "Name;" is how curl is told to send a header with an empty value.
    const std::string line = value.empty() ? name + ";" : name + ": " + value;
    headerList_ = curl_slist_append(headerList_, line.c_str());
  }
  // Without this curl waits for a "100 Continue" before sending larger bodies.
  if (hasBody) headerList_ = curl_slist_append(headerList_, "Expect:");
  if (headerList_) curl_easy_setopt(e, CURLOPT_HTTPHEADER, headerList_);
  return e;
}

void CurlHttpClient::Transfer::finish(CURLcode code) {
  long status = 0;
  curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
  response_.status = static_cast<int>(status);
  char* effectiveUrl = nullptr;
  curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
  response_.url = effectiveUrl ? effectiveUrl : request_.url;
  response_.errorCode = errorCodeFor(code);
  if (code != CURLE_OK) {
    response_.errorText = errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(code);
  }
  complete(std::move(response_));
}

void CurlHttpClient::Impl::run() {
  // With CURLOPT_NOSIGNAL curl leaves SIGPIPE alone, and OpenSSL writes with write(): a TLS peer
  // that closes at the wrong moment would end the whole process. Blocked on this thread, such a
  // write fails with EPIPE and the transfer fails as a transport error.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  for (;;) {
    std::deque<std::shared_ptr<Transfer>> incoming;
    std::vector<std::shared_ptr<Transfer>> cancelled;
    {
      MutexLock lock(mu_);
      if (stopping_) break;
      incoming.swap(incoming_);
      cancelled.swap(cancelled_);
    }
    for (auto& transfer : cancelled) drop(transfer);
    for (auto& transfer : incoming) {
      if (transfer->isDone()) continue;  // cancelled before it started
      CURL* easy = transfer->prepare();
      if (!easy || curl_multi_add_handle(multi_, easy) != CURLM_OK) {
        HttpResponse response;
        response.errorCode = HttpErrorCode::kTransport;
        response.errorText = "could not start the transfer";
        transfer->complete(std::move(response));
        transfer->release();
        continue;
      }
      active_.emplace(easy, transfer);
    }

    int running = 0;
    curl_multi_perform(multi_, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      auto it = active_.find(message->easy_handle);
      if (it == active_.end()) continue;
      std::shared_ptr<Transfer> transfer = it->second;
      transfer->finish(message->data.result);
      drop(transfer);
    }
    curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
  }

  // Shutting down: whatever is still waiting or running ends now.
  std::deque<std::shared_ptr<Transfer>> incoming;
  {
    MutexLock lock(mu_);
    incoming.swap(incoming_);
    cancelled_.clear();
  }
  for (auto& [easy, transfer] : active_) incoming.push_back(transfer);
  for (auto& transfer : incoming) {
    HttpResponse response;
    response.errorCode = HttpErrorCode::kShutDown;
    response.errorText = "the HTTP client was shut down";
    transfer->complete(std::move(response));
    drop(transfer);
  }
  active_.clear();
}

CurlHttpClient::CurlHttpClient() {
  initialiseCurlOnce();
  impl_ = std::make_shared<Impl>();
  if (impl_->usable()) {
    impl_->startThread();
  } else {
    MOXLog::error("Could not initialise the HTTP transport");
  }
}

CurlHttpClient::~CurlHttpClient() {
  if (impl_->usable()) impl_->stopAndJoin();
}

std::shared_ptr<HttpCall> CurlHttpClient::send(HttpRequest request, std::shared_ptr<EventLoop> loop,
                                               Completion completion) {
  auto transfer =
      std::make_shared<Transfer>(std::move(request), std::move(loop), std::move(completion), impl_);
  if (!impl_->usable() || !impl_->enqueue(transfer)) {
    HttpResponse response;
    response.errorCode = HttpErrorCode::kShutDown;
    response.errorText = "the HTTP client is not running";
    transfer->complete(std::move(response));
  }
  return transfer;
}

}  // namespace loomset
