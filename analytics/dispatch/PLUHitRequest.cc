#include "analytics/dispatch/PLUHitRequest.h"

#include <cctype>

#include "analytics/PLULog.h"
#include "analytics/dispatch/PLUCompressionUtil.h"
#include "analytics/model/PLUModelEnvironment.h"
#include "loomset/PLUFields.h"

namespace loomset {

std::string PLURequestBuilder::userAgentFor(const DeviceInfo& device) {
  std::string country = device.localeCountry;
  for (char& c : country) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return std::string(kPLUProduct) + "/" + kPLUVersion + " (" + device.model + "; U; CPU " +
         device.systemName + " " + device.systemVersion + " like Mac OS X; " +
         PLUModelEnvironment::languageFrom(device.preferredLanguages) + "-" + country + ")";
}

HttpRequest PLURequestBuilder::baseRequest() const {
  HttpRequest request;
  request.headers = {
      {"Content-Type",
       std::string(kPLUHitFormatContentType) + "; charset=" + kPLUHitFormatUTF8CharSet},
      {"User-Agent", userAgent_},
      // Hits must reach the collector every time; no cache on the way may answer for it.
      {"Cache-Control", "no-cache"},
      {"Pragma", "no-cache"},
  };
  // Nothing reads the answer's body; a server sending a large one must not make us hold it.
  request.bodyBytesKept = kHttpIgnoredBodyBytesKept;
  return request;
}

HttpRequest PLURequestBuilder::requestGetUrl(const std::string& endpoint,
                                             const std::string& payload) const {
  PLU_LOG_VERBOSE("building URLRequest for " + endpoint);
  HttpRequest request = baseRequest();
  request.method = "GET";
  request.url = endpoint + "?" + payload;
  return request;
}

std::optional<HttpRequest> PLURequestBuilder::requestPostUrl(const std::string& endpoint,
                                                             const std::string& payload,
                                                             unsigned compression) const {
  PLU_LOG_VERBOSE("building URLRequest for " + endpoint);
  HttpRequest request = baseRequest();
  request.method = "POST";
  request.url = endpoint;
  if (compression == kCompressionGzip || compression == kCompressionDeflate) {
    const bool gzip = compression == kCompressionGzip;
    auto body = gzip ? PLUCompressionUtil::plu_dataByGzippingData(payload)
                     : PLUCompressionUtil::plu_dataByDeflatingData(payload);
    if (!body) return std::nullopt;
    request.body = std::move(*body);
    request.headers.emplace_back("Content-Encoding", gzip ? "gzip" : "deflate");
  } else {
    request.body = payload;
  }
  request.headers.emplace_back("Content-Length", std::to_string(request.body.size()));
  return request;
}

}  // namespace loomset
