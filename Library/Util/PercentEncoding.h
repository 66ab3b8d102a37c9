// Percent-encoding of URL components, shared by the macros' escapings, the pixel tag, the
// click-referrer parsing and the analytics campaign parameters.
//
// Stateless; every function may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace loomset {

// Percent-encodes every byte except ASCII letters, digits and "-._~", with upper-case hex.
std::string percentEncode(std::string_view text);
// Replaces every "%XX" by its byte. Nothing when an escape is malformed or the decoded bytes are
// not valid UTF-8. A "+" stays a "+".
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace loomset
