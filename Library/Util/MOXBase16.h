// Base16 (hex) of bytes: upper-case on output, either case on input.
//
// Threads: stateless; any thread.
#pragma once

#include <string>
#include <string_view>

namespace loomset {

class MOXBase16 {
 public:
  static std::string encode(std::string_view bytes);
  // Throws IllegalArgumentException ("Purported base16 string has odd number of characters" or
  // "Purported base16 string has illegal char").
  static std::string decode(std::string_view text);
};

}  // namespace loomset
