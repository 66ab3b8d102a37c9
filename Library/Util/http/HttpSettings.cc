#include <cmath>

#include "loomset/platform/HttpClient.h"

namespace loomset {

void HttpSettings::applyTo(HttpRequest& request) const {
  if (proxy) request.proxy = proxy;
  if (noProxy) request.noProxy = noProxy;
  if (!caBundlePath.empty()) request.caBundlePath = caBundlePath;
  if (std::isfinite(requestTimeoutSeconds) && requestTimeoutSeconds > 0) {
    request.timeoutSeconds = requestTimeoutSeconds;
  }
}

}  // namespace loomset
