#include "container/loading/MOXResourceLoader.h"

#include <string_view>
#include <utility>

#include "loomset/MOXLog.h"
#include "loomset/platform/Platform.h"
#include "runtime/macros/MOXVersionMacros.h"

namespace loomset {
namespace {

bool isBlank(std::string_view text) {
  return text.find_first_not_of(" \t\n\r\v\f") == std::string_view::npos;
}

const char* describe(HttpErrorCode code) {
  switch (code) {
    case HttpErrorCode::kNone:
      return "no error";
    case HttpErrorCode::kCancelled:
      return "cancelled";
    case HttpErrorCode::kInvalidRequest:
      return "invalid request";
    case HttpErrorCode::kCouldNotResolveHost:
      return "could not resolve host";
    case HttpErrorCode::kCouldNotConnect:
      return "could not connect";
    case HttpErrorCode::kTimedOut:
      return "timed out";
    case HttpErrorCode::kTooManyRedirects:
      return "too many redirects";
    case HttpErrorCode::kTransport:
      return "transport error";
    case HttpErrorCode::kShutDown:
      return "client shut down";
  }
  return "error";
}

}  // namespace

std::shared_ptr<MOXResourceLoader> MOXResourceLoader::create(std::string containerId) {
  return create(std::move(containerId), Options());
}

std::shared_ptr<MOXResourceLoader> MOXResourceLoader::create(std::string containerId,
                                                             Options options) {
  return std::shared_ptr<MOXResourceLoader>(
      new MOXResourceLoader(std::move(containerId), std::move(options)));
}

MOXResourceLoader::MOXResourceLoader(std::string containerId, Options options)
    : containerId_(std::move(containerId)),
      defaultPathAndQuery_("/r?id=" + containerId_),
      options_(std::move(options)),
      serverAddress_(kMOXDefaultVeskServerAddress),
      pathAndQuery_(defaultPathAndQuery_) {}

MOXResourceLoader::~MOXResourceLoader() = default;

std::string MOXResourceLoader::sdkVersion() {
  return "i" + std::to_string(MOXRuntimeVersion::versionNumber);
}

void MOXResourceLoader::setCallback(std::shared_ptr<MOXNetworkLoadCallbackInterface> callback) {
  callback_ = std::move(callback);
}

void MOXResourceLoader::setVeskServerAddress(std::optional<std::string> address) {
  serverAddress_ = address ? std::move(*address) : std::string(kMOXDefaultVeskServerAddress);
}

void MOXResourceLoader::setVeskUrlPathAndQuery(std::optional<std::string> pathAndQuery) {
  pathAndQuery_ = pathAndQuery ? std::move(*pathAndQuery) : defaultPathAndQuery_;
}

void MOXResourceLoader::setPreviousVersion(std::optional<std::string> previousVersion) {
  previousVersion_ = std::move(previousVersion);
}

std::string MOXResourceLoader::veskUrl() const {
  std::string url = serverAddress_ + pathAndQuery_ + "&v=" + sdkVersion();
  if (previousVersion_ && !isBlank(*previousVersion_)) url += "&pv=" + *previousVersion_;
  return url;
}

void MOXResourceLoader::loadResourceAsync() {
  if (started_.exchange(true) || cancelled_.load()) return;
  const auto platform = Platform::current();
  std::shared_ptr<HttpClient> client = options_.client ? options_.client : platform->http;
  std::shared_ptr<EventLoop> loop = options_.loop ? options_.loop : platform->mainLoop;
  if (!client || !loop) {
    deliverFailure(kMOXLoadFailureNotAvailable);
    return;
  }

  HttpRequest request;
  request.method = "GET";
  request.url = veskUrl();
  // Without a time-out, a server that accepts the connection and never answers would hold the
  // fetch, and with it the container's whole schedule, for good.
  request.timeoutSeconds = options_.timeoutSeconds;
  platform->httpSettings.applyTo(request);

  if (callback_) callback_->startLoad();
  MutexLock lock(callMu_);
  if (cancelled_.load()) return;  // cancelled from inside startLoad
  // The completion keeps the loader alive until the answer has been delivered.
  call_ = client->send(
      std::move(request), std::move(loop),
      [self = shared_from_this()](HttpResponse response) { self->finish(std::move(response)); });
}

void MOXResourceLoader::cancel() {
  cancelled_.store(true);
  std::shared_ptr<HttpCall> call;
  {
    MutexLock lock(callMu_);
    call = std::move(call_);
  }
  if (call) call->cancel();
}

void MOXResourceLoader::finish(HttpResponse response) {
  {
    MutexLock lock(callMu_);
    call_.reset();
  }
  if (cancelled_.load()) return;
  const std::string url = veskUrl();
  if (response.hasError()) {
    MOXLog::warning("Error when loading resources from url: " + url + " " +
                    describe(response.errorCode) +
                    (response.errorText.empty() ? "" : ": " + response.errorText));
    deliverFailure(kMOXLoadFailureNotAvailable);
    return;
  }
  if (response.status == 200) {
    deliverSuccess(url, response.body);
    return;
  }
  if (response.status == 404) {
    MOXLog::warning("No data was retrieved from the given url:" + url +
                    ". Make sure container_id:" + containerId_ + " is correct.");
    deliverFailure(kMOXLoadFailureServerError);
    return;
  }
  MOXLog::warning("Error when loading resources from url: " + url +
                  " status code = " + std::to_string(response.status));
  deliverFailure(kMOXLoadFailureIOError);
}

void MOXResourceLoader::deliverSuccess(const std::string& url, const std::string& body) {
  MOXPLegacyRawProtoSupplementedResource resource;
  // Parsing also checks that every required field is present.
  if (!resource.ParseFromString(body)) {
    MOXLog::warning("Error when parsing downloaded resources from url: " + url);
    deliverFailure(kMOXLoadFailureServerError);
    MOXLog::verbose("Load resource from network finished");
    return;
  }
  if (MOXLog::enabled(kMOXLogLevelVerbose)) {
    MOXLog::verbose("Successfully loaded supplemented resource: " + resource.ShortDebugString());
  }
  if (!resource.has_resource() && resource.supplemental_size() == 0) {
    MOXLog::verbose("No change for container: " + containerId_);
  }
  if (callback_) callback_->onSuccess(resource);
  MOXLog::verbose("Load resource from network finished");
}

void MOXResourceLoader::deliverFailure(MOXLoadFailure failure) {
  if (callback_) callback_->onFailure(failure);
}

}  // namespace loomset
