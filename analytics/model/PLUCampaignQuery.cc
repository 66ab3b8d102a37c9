#include "analytics/model/PLUCampaignQuery.h"

#include <optional>

#include "Library/Util/PercentEncoding.h"
#include "analytics/PLULog.h"

namespace loomset {
namespace {

std::optional<std::string> decodeComponent(std::string_view text) {
  std::string spaced(text);
  for (char& c : spaced) {
    if (c == '+') c = ' ';
  }
  return percentDecode(spaced);
}

}  // namespace

std::string_view plu_queryOfUrl(std::string_view url) {
  const std::size_t mark = url.find('?');
  if (mark != std::string_view::npos && mark + 1 < url.size()) return url.substr(mark + 1);
  return url;
}

std::map<std::string, std::string> plu_decodeParametersFromQuery(std::string_view query) {
  std::map<std::string, std::string> parameters;
  while (true) {
    const std::size_t amp = query.find('&');
    const std::string_view piece = query.substr(0, amp);
    const std::size_t eq = piece.find('=');
    const std::string_view rawKey = piece.substr(0, eq);
    const std::string_view rawValue =
        eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
    auto key = decodeComponent(rawKey);
    auto value = decodeComponent(rawValue);
    if (key && value) {
      parameters.insert_or_assign(std::move(*key), std::move(*value));
    } else {
      PLU_LOG_WARNING("Skipping malformed query parameter: " + std::string(piece));
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return parameters;
}

}  // namespace loomset
