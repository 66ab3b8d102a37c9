// The ad-click referrers seen by the application, kept per conversion id for the click-referrer
// macro. A referrer is a query text such as "conv=123&gclid=abc"; its "conv" component is the
// conversion id. Referrers live in a process-wide cache, loaded lazily from the property-list
// file "ClickReferrer", and every change is written back to that file in the background.
//
// Threads: any thread (the data layer's pushing threads and macro evaluation); the cache is
// guarded by a lock of its own.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace loomset {

class MOXClickReferrerUtil {
 public:
  // Records the referrer under its "conv" component; a referrer without one is ignored.
  static void addClickReferrer(const std::string& referrer);
  // The whole stored referrer (component absent) or one of its components; nothing when there
  // is none or it is empty.
  static std::optional<std::string> clickReferrerForConversionId(
      const std::string& conversionId, const std::optional<std::string>& component);
  static std::optional<std::string> extractComponent(const std::optional<std::string>& component,
                                                     const std::optional<std::string>& referrer);
  // Percent-decoded "key=value" pieces of a query; pieces that are not exactly one "=" apart, or
  // whose escapes are malformed, are skipped with the warning "Invalid component: <piece>".
  static std::map<std::string, std::string> parseComponentsFromQueryParameters(
      const std::optional<std::string>& query);
  // Forgets the cache; the next use reads the file again.
  static void clearCache();
};

}  // namespace loomset
