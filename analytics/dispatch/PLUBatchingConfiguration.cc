// The process-wide collection endpoints the batching dispatcher reads when it is created.
#include "Library/Util/platform/Mutex.h"
#include "Library/Util/platform/NoDestructor.h"
#include "loomset/PLUCollectorEndpoints.h"

namespace loomset {
namespace {

struct Registry {
  Mutex mu;
  PLUCollectorEndpoints endpoints GUARDED_BY(mu);
};

Registry& registry() {
  static NoDestructor<Registry> instance;
  return *instance;
}

}  // namespace

std::string PLUCollectorEndpoints::secureHost() const {
  std::string_view url = secureBaseUrl;
  const auto scheme = url.find("://");
  if (scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
  url = url.substr(0, url.find_first_of("/?#"));
  const auto at = url.rfind('@');
  if (at != std::string_view::npos) url.remove_prefix(at + 1);
  if (!url.empty() && url.front() == '[') {
    const auto close = url.find(']');
    return std::string(close == std::string_view::npos ? url.substr(1) : url.substr(1, close - 1));
  }
  return std::string(url.substr(0, url.find(':')));
}

void PLUCollectorEndpoints::setShared(const PLUCollectorEndpoints& endpoints) {
  auto& r = registry();
  MutexLock lock(r.mu);
  r.endpoints = endpoints;
}

PLUCollectorEndpoints PLUCollectorEndpoints::shared() {
  auto& r = registry();
  MutexLock lock(r.mu);
  return r.endpoints;
}

}  // namespace loomset
