#include "Library/Util/MOXWENStringEncoding.h"

#include "Library/Util/Utf8.h"
#include "loomset/MOXLog.h"

namespace loomset {

namespace {

int log2IfPowerOfTwo(std::size_t n) {
  if (n == 0 || (n & (n - 1)) != 0) return -1;
  int bits = 0;
  while ((std::size_t{1} << bits) < n) ++bits;
  return bits;
}

int leastCommonMultiple(int a, int b) {
  int m = a;
  while (m % b != 0) m += a;
  return m;
}

}  // namespace

std::unique_ptr<MOXWENStringEncoding> MOXWENStringEncoding::stringEncodingWithString(
    std::string_view alphabet) {
  const int shift = log2IfPowerOfTwo(alphabet.size());
  if (shift < 1 || shift > 7) return nullptr;
  std::array<bool, 256> seen{};
  for (unsigned char c : alphabet) {
    if (seen[c]) return nullptr;
    seen[c] = true;
  }
  return std::unique_ptr<MOXWENStringEncoding>(
      new MOXWENStringEncoding(std::string(alphabet), shift));
}

MOXWENStringEncoding::MOXWENStringEncoding(std::string alphabet, int shift)
    : alphabet_(std::move(alphabet)),
      shift_(shift),
      mask_((1u << shift) - 1),
      padLen_(leastCommonMultiple(shift, 8) / shift) {
  decodeMap_.fill(kInvalid);
  for (std::size_t i = 0; i < alphabet_.size(); ++i) {
    decodeMap_[static_cast<unsigned char>(alphabet_[i])] = static_cast<std::int8_t>(i);
  }
}

std::unique_ptr<MOXWENStringEncoding> MOXWENStringEncoding::binaryStringEncoding() {
  return stringEncodingWithString("01");
}

std::unique_ptr<MOXWENStringEncoding> MOXWENStringEncoding::hexStringEncoding() {
  auto e = stringEncodingWithString("0123456789ABCDEF");
  e->addDecodeSynonyms("AaBbCcDdEeFf");
  return e;
}

std::unique_ptr<MOXWENStringEncoding> MOXWENStringEncoding::rfc4648Base32StringEncoding() {
  auto e = stringEncodingWithString("ABCDEFGHIJKLMNOPQRSTUVWXYZ234567");
  e->setPaddingChar('=');
  e->setDoPad(true);
  return e;
}

std::unique_ptr<MOXWENStringEncoding> MOXWENStringEncoding::rfc4648Base32HexStringEncoding() {
  auto e = stringEncodingWithString("0123456789ABCDEFGHIJKLMNOPQRSTUV");
  e->setPaddingChar('=');
  e->setDoPad(true);
  return e;
}

std::unique_ptr<MOXWENStringEncoding> MOXWENStringEncoding::crockfordBase32StringEncoding() {
  auto e = stringEncodingWithString("0123456789ABCDEFGHJKMNPQRSTVWXYZ");
  e->addDecodeSynonyms("0oO1iIlLAaBbCcDdEeFfGgHhJjKkMmNnPpQqRrSsTtVvWwXxYyZz");
  return e;
}

std::unique_ptr<MOXWENStringEncoding> MOXWENStringEncoding::rfc4648Base64StringEncoding() {
  auto e =
      stringEncodingWithString("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
  e->setPaddingChar('=');
  e->setDoPad(true);
  return e;
}

std::unique_ptr<MOXWENStringEncoding> MOXWENStringEncoding::rfc4648Base64WebsafeStringEncoding() {
  auto e =
      stringEncodingWithString("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_");
  e->setPaddingChar('=');
  e->setDoPad(true);
  return e;
}

bool MOXWENStringEncoding::setPaddingChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (decodeMap_[u] != kInvalid && decodeMap_[u] != kPadding) {
    MOXLog::error("Character already mapped");
    return false;
  }
  const auto old = static_cast<unsigned char>(paddingChar_);
  if (decodeMap_[old] == kPadding) decodeMap_[old] = kInvalid;
  paddingChar_ = c;
  decodeMap_[u] = kPadding;
  return true;
}

bool MOXWENStringEncoding::addDecodeSynonyms(std::string_view synonyms) {
  // A byte already in the alphabet sets the digit that the unknown bytes after it stand for.
  // Reading the text strictly in pairs would break spellings like Crockford's "0oO1iIlL".
  bool ok = true;
  std::int8_t digit = kInvalid;
  for (unsigned char c : synonyms) {
    const std::int8_t current = decodeMap_[c];
    if (current >= 0) {
      digit = current;
    } else if (current == kInvalid && digit >= 0) {
      decodeMap_[c] = digit;
    } else {
      MOXLog::error("Character already mapped");
      ok = false;
    }
  }
  return ok;
}

bool MOXWENStringEncoding::ignoreCharacters(std::string_view characters) {
  bool ok = true;
  for (unsigned char c : characters) {
    if (decodeMap_[c] == kIgnored) continue;
    if (decodeMap_[c] != kInvalid) {
      MOXLog::error("Character already mapped");
      ok = false;
      continue;
    }
    decodeMap_[c] = kIgnored;
  }
  return ok;
}

std::string MOXWENStringEncoding::encode(std::string_view bytes) const {
  std::string out;
  if (bytes.empty()) return out;
  const std::size_t digits = (bytes.size() * 8 + shift_ - 1) / shift_;
  const std::size_t total =
      doPad_ ? (digits + padLen_ - 1) / static_cast<std::size_t>(padLen_) * padLen_ : digits;
  out.resize(total);
  char* dst = out.data();
  const char* alphabet = alphabet_.data();
  unsigned buffer = 0;
  int bits = 0;
  for (unsigned char byte : bytes) {
    buffer = (buffer << 8) | byte;
    bits += 8;
    while (bits >= shift_) {
      bits -= shift_;
      *dst++ = alphabet[(buffer >> bits) & mask_];
    }
    buffer &= (1u << bits) - 1;
  }
  if (bits > 0) *dst++ = alphabet[(buffer << (shift_ - bits)) & mask_];
  while (dst != out.data() + total) *dst++ = paddingChar_;
  return out;
}

std::optional<std::string> MOXWENStringEncoding::decode(std::string_view text) const {
  std::string out;
  out.reserve(text.size() * shift_ / 8 + 1);
  unsigned buffer = 0;
  int bits = 0;
  bool paddingSeen = false;
  for (unsigned char c : text) {
    const std::int8_t digit = decodeMap_[c];
    if (digit == kIgnored) continue;
    if (digit == kPadding) {
      paddingSeen = true;
      continue;
    }
    if (digit == kInvalid || paddingSeen) return std::nullopt;
    buffer = (buffer << shift_) | static_cast<unsigned>(digit);
    bits += shift_;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
      buffer &= (1u << bits) - 1;
    }
  }
  if (buffer != 0) return std::nullopt;
  return out;
}

std::optional<std::string> MOXWENStringEncoding::stringByDecoding(std::string_view text) const {
  auto bytes = decode(text);
  if (!bytes || !isValidUtf8(*bytes)) return std::nullopt;
  return bytes;
}

}  // namespace loomset
