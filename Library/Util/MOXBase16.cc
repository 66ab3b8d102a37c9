#include "Library/Util/MOXBase16.h"

#include "loomset/Exceptions.h"

namespace loomset {

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string MOXBase16::encode(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(bytes.size() * 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out[2 * i] = kDigits[b >> 4];
    out[2 * i + 1] = kDigits[b & 0x0F];
  }
  return out;
}

std::string MOXBase16::decode(std::string_view text) {
  if (text.size() % 2 != 0) {
    throw IllegalArgumentException("Purported base16 string has odd number of characters");
  }
  std::string out(text.size() / 2, '\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int hi = hexDigit(text[2 * i]);
    const int lo = hexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) {
      throw IllegalArgumentException("Purported base16 string has illegal char");
    }
    out[i] = static_cast<char>((hi << 4) | lo);
  }
  return out;
}

}  // namespace loomset
