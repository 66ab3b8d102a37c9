// `PLURequestBuilder`: the HTTP requests that carry hits to the collector. Every request is
// form-encoded UTF-8 with the library's user agent and no caching; one small hit goes as the query
// of a GET, anything else as a POST body, gzip- or zlib-compressed on request.
//
// Threads: immutable after construction; any thread.
#pragma once

#include <optional>
#include <string>

#include "loomset/platform/DeviceInfo.h"
#include "loomset/platform/HttpClient.h"

namespace loomset {

class PLURequestBuilder {
 public:
  // Compression of a POST body.
  enum Compression : unsigned {
    kCompressionNone = 0,
    kCompressionDeflate = 1,
    kCompressionGzip = 2
  };

  explicit PLURequestBuilder(std::string userAgent) : userAgent_(std::move(userAgent)) {}
  // "Kestrel/3.17 (<model>; U; CPU <system> <version> like Mac OS X; <language>-<country>)", with
  // the language as trackers report it ("&ul") and the locale's country in lower case.
  static std::string userAgentFor(const DeviceInfo& device);

  const std::string& userAgent() const { return userAgent_; }

  HttpRequest baseRequest() const;
  // GET "<endpoint>?<payload>".
  HttpRequest requestGetUrl(const std::string& endpoint, const std::string& payload) const;
  // POST of the payload to the endpoint; nothing when the body cannot be compressed.
  std::optional<HttpRequest> requestPostUrl(const std::string& endpoint, const std::string& payload,
                                            unsigned compression) const;

 private:
  const std::string userAgent_;
};

}  // namespace loomset
