// Base64 and web-safe Base64 (RFC 4648) of bytes, with or without trailing padding. Decoding
// accepts text with or without padding and answers nothing for malformed input.
//
// Threads: stateless; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace loomset {

class MOXBase64Encoder {
 public:
  static std::string encode(std::string_view bytes, bool noPadding);
  static std::string encodeWebSafe(std::string_view bytes, bool noPadding);
  static std::optional<std::string> decode(std::string_view text, bool noPadding);
  static std::optional<std::string> decodeWebSafe(std::string_view text, bool noPadding);
};

}  // namespace loomset
