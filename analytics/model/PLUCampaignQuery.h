// Reading campaign parameters from a URL query: "k=v" pieces separated by "&", "+" meaning a
// blank, percent escapes decoded as UTF-8.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace loomset {

// Everything after the first "?" when something follows it; else the whole text.
std::string_view plu_queryOfUrl(std::string_view url);
// A piece without "=" is a key with the value ""; a later duplicate key wins. A piece whose key
// or value is not valid percent-encoded UTF-8 is skipped with a warning.
std::map<std::string, std::string> plu_decodeParametersFromQuery(std::string_view query);

}  // namespace loomset
