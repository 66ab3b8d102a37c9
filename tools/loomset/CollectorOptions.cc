#include "tools/loomset/CollectorOptions.h"

#include <string>

namespace loomset::tools {

std::optional<PLUCollectorEndpoints> collectorEndpointsFrom(const Arguments& parsed) {
  const auto secure = parsed.value("--collector-secure");
  const auto plain = parsed.value("--collector-plain");
  for (const auto* url : {&secure, &plain}) {
    if (*url && url->value().find("://") == std::string::npos) {
      throw UsageError("a collector URL needs a scheme, host and port, not \"" + url->value() +
                       "\"");
    }
  }
  if (!secure && !plain) return std::nullopt;
  PLUCollectorEndpoints endpoints;
  endpoints.secureBaseUrl = secure ? *secure : *plain;
  endpoints.plainBaseUrl = plain ? *plain : *secure;
  return endpoints;
}

}  // namespace loomset::tools
