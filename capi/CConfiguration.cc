// Configuration through the C interface: each setter installs a copy of the platform bundle in
// force with one setting changed (and the container server and collector endpoints), for the
// process-wide objects the library creates afterwards.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "capi/CErrors.h"
#include "loomset/MOXManager.h"
#include "loomset/PLUCollectorEndpoints.h"
#include "loomset/loomset.h"
#include "loomset/platform/Platform.h"

namespace loomset::capi {
namespace {

loomset_status changePlatform(const std::function<void(Platform&)>& change) {
  auto copy = std::make_shared<Platform>(*Platform::current());
  change(*copy);
  Platform::setCurrent(std::move(copy));
  return LOOMSET_OK;
}

std::optional<std::string> optionalText(const char* text) {
  return text ? std::optional<std::string>(text) : std::nullopt;
}

}  // namespace
}  // namespace loomset::capi

using loomset::Platform;
using loomset::capi::changePlatform;
using loomset::capi::fail;
using loomset::capi::guarded;
using loomset::capi::optionalText;

extern "C" {

loomset_status loomset_set_data_root(const char* path) {
  return guarded([&] {
    if (!path) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no data root");
    return changePlatform([&](Platform& p) { p.directories = loomset::DataDirectories(path); });
  });
}

loomset_status loomset_set_resource_directory(const char* path) {
  return guarded([&] {
    if (!path) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no resource directory");
    return changePlatform([&](Platform& p) { p.application.resourceDirectory = path; });
  });
}

loomset_status loomset_set_http_proxy(const char* url) {
  return guarded([&] {
    return changePlatform([&](Platform& p) { p.httpSettings.proxy = optionalText(url); });
  });
}

loomset_status loomset_set_http_no_proxy(const char* hosts) {
  return guarded([&] {
    return changePlatform([&](Platform& p) { p.httpSettings.noProxy = optionalText(hosts); });
  });
}

loomset_status loomset_set_ca_bundle(const char* path) {
  return guarded([&] {
    return changePlatform([&](Platform& p) { p.httpSettings.caBundlePath = path ? path : ""; });
  });
}

loomset_status loomset_set_request_timeout(double seconds) {
  return guarded([&] {
    if (!(seconds >= 0))
      return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "time-out is negative or not a number");
    return changePlatform([&](Platform& p) { p.httpSettings.requestTimeoutSeconds = seconds; });
  });
}

loomset_status loomset_set_container_server(const char* address) {
  return guarded([&] {
    loomset::MOXManager::instance()->setVeskServerAddress(optionalText(address));
    return LOOMSET_OK;
  });
}

loomset_status loomset_set_collector(const char* plainBaseUrl, const char* secureBaseUrl) {
  return guarded([&] {
    if (!plainBaseUrl || !secureBaseUrl) {
      return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no collector address");
    }
    loomset::PLUCollectorEndpoints endpoints;
    endpoints.plainBaseUrl = plainBaseUrl;
    endpoints.secureBaseUrl = secureBaseUrl;
    loomset::PLUCollectorEndpoints::setShared(endpoints);
    return LOOMSET_OK;
  });
}

}  // extern "C"
