// Where the analytics half sends its hits: a plain-HTTP and a secure collection host. Single hits
// go to "<base>/collect", batches to "<base>/batch"; hits marked "useSecure" = "0" use the plain
// host, every other hit the secure one.
//
// The process-wide setting is read by the facade when it is created (set it before the first use
// of `PLU`), which hands it to its dispatcher; a running dispatcher can be pointed elsewhere
// through its own setter.
//
// Threads: `setShared` and `shared` are safe from any thread; the struct is a plain value.
#pragma once

#include <string>

#include "loomset/Export.h"

namespace loomset {

struct LOOMSET_EXPORT PLUCollectorEndpoints {
  static constexpr const char* kDefaultPlainBaseUrl = "http://collect.kestrel.orvex.com";
  static constexpr const char* kDefaultSecureBaseUrl = "https://ssl.kestrel.orvex.com";

  // Scheme, host and optional port (and path prefix), without a trailing "/".
  std::string plainBaseUrl = kDefaultPlainBaseUrl;
  std::string secureBaseUrl = kDefaultSecureBaseUrl;

  std::string httpUrl() const { return trimmed(plainBaseUrl) + "/collect"; }
  std::string httpsUrl() const { return trimmed(secureBaseUrl) + "/collect"; }
  std::string httpBatchUrl() const { return trimmed(plainBaseUrl) + "/batch"; }
  std::string httpsBatchUrl() const { return trimmed(secureBaseUrl) + "/batch"; }
  // The host name of the secure base URL (without port), watched for reachability; empty when
  // the URL names none.
  std::string secureHost() const;

  static void setShared(const PLUCollectorEndpoints& endpoints);
  static PLUCollectorEndpoints shared();

 private:
  static std::string trimmed(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
  }
};

}  // namespace loomset
