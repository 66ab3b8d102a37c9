// A codec between bytes and text over a power-of-two alphabet (binary, hex, Base32, Base64 and
// their variants). The encode and hash macros use it through MOXBase64Encoder and MOXBase16.
//
// Bytes travel in std::string (any byte values); texts are ASCII digits of the alphabet.
// Threads: an encoding is configured once (padding, synonyms, ignored characters) and is then
// read-only, so the predefined instances may be shared by any number of threads.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace loomset {

class MOXWENStringEncoding {
 public:
  // Nothing when the alphabet's length is not a power of two in 2..128 or a byte repeats.
  static std::unique_ptr<MOXWENStringEncoding> stringEncodingWithString(std::string_view alphabet);

  static std::unique_ptr<MOXWENStringEncoding> binaryStringEncoding();
  static std::unique_ptr<MOXWENStringEncoding> hexStringEncoding();
  static std::unique_ptr<MOXWENStringEncoding> rfc4648Base32StringEncoding();
  static std::unique_ptr<MOXWENStringEncoding> rfc4648Base32HexStringEncoding();
  static std::unique_ptr<MOXWENStringEncoding> crockfordBase32StringEncoding();
  static std::unique_ptr<MOXWENStringEncoding> rfc4648Base64StringEncoding();
  static std::unique_ptr<MOXWENStringEncoding> rfc4648Base64WebsafeStringEncoding();

  std::string encode(std::string_view bytes) const;
  // The text's UTF-8 bytes, encoded.
  std::string encodeString(std::string_view text) const { return encode(text); }
  // Nothing for a byte outside the alphabet, a digit after padding, or leftover bits that are
  // not all zero.
  std::optional<std::string> decode(std::string_view text) const;
  // The decoded bytes as text; nothing when they are not valid UTF-8.
  std::optional<std::string> stringByDecoding(std::string_view text) const;

  void setDoPad(bool doPad) { doPad_ = doPad; }
  bool doPad() const { return doPad_; }
  // False (with an error line) when the byte already means something else.
  bool setPaddingChar(char c);
  char paddingChar() const { return paddingChar_; }
  // Every byte not in the alphabet decodes like the nearest alphabet byte before it in the
  // text: "AaBb" makes 'a' read as 'A'; "0oO1iI" makes 'o' and 'O' read as '0', 'i' and 'I'
  // as '1'. Returns false (with an error line) when a byte could not be mapped.
  bool addDecodeSynonyms(std::string_view synonyms);
  // Bytes that decoding skips. Returns false (with an error line) for a byte that already has
  // a meaning; that byte keeps it.
  bool ignoreCharacters(std::string_view characters);

  int shift() const { return shift_; }
  int padLen() const { return padLen_; }

 private:
  static constexpr std::int8_t kInvalid = -1;
  static constexpr std::int8_t kPadding = -2;
  static constexpr std::int8_t kIgnored = -3;

  MOXWENStringEncoding(std::string alphabet, int shift);

  std::string alphabet_;
  std::array<std::int8_t, 256> decodeMap_;
  int shift_;
  unsigned mask_;
  int padLen_;
  bool doPad_ = false;
  char paddingChar_ = '=';
};

}  // namespace loomset
