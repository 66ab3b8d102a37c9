#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Library/Util/MOXBase16.h"
#include "Library/Util/MOXBase64Encoder.h"
#include "Library/Util/MOXWENStringEncoding.h"
#include "loomset/Exceptions.h"
#include "support/RecordingLogger.h"

namespace loomset {
namespace {

using Vector = std::pair<std::string, std::string>;

// RFC 4648 section 10.
const std::vector<Vector> kBase64 = {{"", ""},
                                     {"f", "Zg=="},
                                     {"fo", "Zm8="},
                                     {"foo", "Zm9v"},
                                     {"foob", "Zm9vYg=="},
                                     {"fooba", "Zm9vYmE="},
                                     {"foobar", "Zm9vYmFy"}};
const std::vector<Vector> kBase32 = {{"", ""},
                                     {"f", "MY======"},
                                     {"fo", "MZXQ===="},
                                     {"foo", "MZXW6==="},
                                     {"foob", "MZXW6YQ="},
                                     {"fooba", "MZXW6YTB"},
                                     {"foobar", "MZXW6YTBOI======"}};
const std::vector<Vector> kBase32Hex = {{"", ""},
                                        {"f", "CO======"},
                                        {"fo", "CPNG===="},
                                        {"foo", "CPNMU==="},
                                        {"foob", "CPNMUOG="},
                                        {"fooba", "CPNMUOJ1"},
                                        {"foobar", "CPNMUOJ1E8======"}};
const std::vector<Vector> kBase16 = {{"", ""},
                                     {"f", "66"},
                                     {"fo", "666F"},
                                     {"foo", "666F6F"},
                                     {"foob", "666F6F62"},
                                     {"fooba", "666F6F6261"},
                                     {"foobar", "666F6F626172"}};

void expectRoundTrips(const MOXWENStringEncoding& e, const std::vector<Vector>& vectors) {
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(e.encode(plain), encoded) << plain;
    EXPECT_EQ(e.decode(encoded), plain) << encoded;
  }
}

TEST(MOXWENStringEncoding, Rfc4648TestVectors) {
  expectRoundTrips(*MOXWENStringEncoding::rfc4648Base64StringEncoding(), kBase64);
  expectRoundTrips(*MOXWENStringEncoding::rfc4648Base32StringEncoding(), kBase32);
  expectRoundTrips(*MOXWENStringEncoding::rfc4648Base32HexStringEncoding(), kBase32Hex);
  expectRoundTrips(*MOXWENStringEncoding::hexStringEncoding(), kBase16);
  for (const auto& [plain, encoded] : kBase16) EXPECT_EQ(MOXBase16::encode(plain), encoded);
}

TEST(MOXWENStringEncoding, PaddingLengthsAndBinary) {
  EXPECT_EQ(MOXWENStringEncoding::rfc4648Base64StringEncoding()->padLen(), 4);
  EXPECT_EQ(MOXWENStringEncoding::rfc4648Base32StringEncoding()->padLen(), 8);
  EXPECT_EQ(MOXWENStringEncoding::hexStringEncoding()->padLen(), 2);
  auto binary = MOXWENStringEncoding::binaryStringEncoding();
  EXPECT_EQ(binary->padLen(), 8);
  EXPECT_EQ(binary->encode("\xA5\x01"), "1010010100000001");
  EXPECT_EQ(binary->decode("1010010100000001"), std::string("\xA5\x01"));
}

TEST(MOXWENStringEncoding, RejectsBadAlphabets) {
  EXPECT_EQ(MOXWENStringEncoding::stringEncodingWithString("012"), nullptr);
  EXPECT_EQ(MOXWENStringEncoding::stringEncodingWithString("0"), nullptr);
  EXPECT_EQ(MOXWENStringEncoding::stringEncodingWithString("0100"), nullptr);  // repeated byte
  EXPECT_EQ(MOXWENStringEncoding::stringEncodingWithString(std::string(256, 'a')), nullptr);
  std::string alphabet128;
  for (int i = 0; i < 128; ++i) alphabet128.push_back(static_cast<char>(i));
  auto wide = MOXWENStringEncoding::stringEncodingWithString(alphabet128);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->shift(), 7);
  const std::string bytes = "\xFF\x00\x80 any bytes \x7F";
  EXPECT_EQ(wide->decode(wide->encode(bytes)), bytes);
}

TEST(MOXWENStringEncoding, DecodingRejectsMalformedText) {
  auto b64 = MOXWENStringEncoding::rfc4648Base64StringEncoding();
  EXPECT_EQ(b64->decode("Zm9v"), "foo");
  EXPECT_EQ(b64->decode("Zg"), "f");  // padding is optional
  EXPECT_EQ(b64->decode("Zg=="), "f");
  EXPECT_FALSE(b64->decode("Zg==Zg"));  // digit after padding
  EXPECT_FALSE(b64->decode("Zh=="));    // leftover bits not zero
  EXPECT_FALSE(b64->decode("Zm9v!"));   // not in the alphabet
  EXPECT_FALSE(b64->decode("Zm 9v"));   // spaces are not ignored unless asked
  EXPECT_EQ(b64->decode(""), "");
  auto hex = MOXWENStringEncoding::hexStringEncoding();
  EXPECT_FALSE(hex->decode("6="));  // hex has no padding
}

TEST(MOXWENStringEncoding, SynonymsAndIgnoredCharacters) {
  auto hex = MOXWENStringEncoding::hexStringEncoding();
  EXPECT_EQ(hex->decode("c0fFeE"), std::string("\xC0\xFF\xEE"));

  auto crockford = MOXWENStringEncoding::crockfordBase32StringEncoding();
  const std::string encoded = crockford->encode("\x08\x42\x10");  // digits 0,1,1,0,...
  EXPECT_EQ(encoded, "11110");
  // O and o read as 0, I, i, L and l as 1, lower case as upper case.
  EXPECT_EQ(crockford->decode("iLlI0"), std::string("\x08\x42\x10"));
  EXPECT_EQ(crockford->decode("a0"), std::string("\x50"));
  EXPECT_EQ(crockford->decode("oO"), crockford->decode("00"));
  EXPECT_FALSE(crockford->decode("U"));  // not part of the alphabet, no synonym

  testing::ScopedRecordingLogger log;
  auto b64 = MOXWENStringEncoding::rfc4648Base64StringEncoding();
  EXPECT_TRUE(b64->ignoreCharacters(" \n"));
  EXPECT_EQ(b64->decode("Zm9v\nYmFy \n"), "foobar");
  EXPECT_FALSE(b64->ignoreCharacters("A"));
  EXPECT_TRUE(log->contains("Character already mapped"));
  EXPECT_EQ(b64->decode("QQ=="), "A");  // 'A' kept its meaning
}

TEST(MOXWENStringEncoding, StringDecodingRequiresUtf8) {
  auto b64 = MOXWENStringEncoding::rfc4648Base64StringEncoding();
  EXPECT_EQ(b64->stringByDecoding(b64->encodeString("h\xC3\xA9llo")), "h\xC3\xA9llo");
  EXPECT_FALSE(b64->stringByDecoding(b64->encode("\xFF\xFE")));
  EXPECT_FALSE(b64->stringByDecoding(b64->encode("\xED\xA0\x80")));  // surrogate
  EXPECT_FALSE(b64->stringByDecoding(b64->encode("\xC0\xAF")));      // overlong
}

TEST(MOXBase64Encoder, PaddingAndWebSafeAlphabet) {
  const std::string bytes = "\xFB\xFF\xBF";
  EXPECT_EQ(MOXBase64Encoder::encode(bytes, false), "+/+/");
  EXPECT_EQ(MOXBase64Encoder::encodeWebSafe(bytes, false), "-_-_");
  EXPECT_EQ(MOXBase64Encoder::encode("fo", false), "Zm8=");
  EXPECT_EQ(MOXBase64Encoder::encode("fo", true), "Zm8");
  EXPECT_EQ(MOXBase64Encoder::encodeWebSafe("\xFF", true), "_w");
  EXPECT_EQ(MOXBase64Encoder::decode("Zm8", true), "fo");
  EXPECT_EQ(MOXBase64Encoder::decode("Zm8=", true), "fo");
  EXPECT_EQ(MOXBase64Encoder::decodeWebSafe("-_-_", false), bytes);
  EXPECT_FALSE(MOXBase64Encoder::decodeWebSafe("+/+/", false));
  EXPECT_FALSE(MOXBase64Encoder::decode("-_-_", false));
}

TEST(MOXBase16, EncodesUpperCaseAndDecodesEitherCase) {
  EXPECT_EQ(MOXBase16::encode(std::string("\x0A\xff", 2)), "0AFF");
  EXPECT_EQ(MOXBase16::decode("0aFf"), std::string("\x0A\xFF"));
  EXPECT_EQ(MOXBase16::decode(""), "");
}

TEST(MOXBase16, MalformedInputRaisesIllegalArgument) {
  try {
    MOXBase16::decode("ABC");
    FAIL() << "odd length accepted";
  } catch (const IllegalArgumentException& e) {
    EXPECT_EQ(e.name(), "IllegalArgumentException");
    EXPECT_EQ(e.reason(), "Purported base16 string has odd number of characters");
  }
  try {
    MOXBase16::decode("0G");
    FAIL() << "illegal digit accepted";
  } catch (const IllegalArgumentException& e) {
    EXPECT_EQ(e.reason(), "Purported base16 string has illegal char");
  }
}

}  // namespace
}  // namespace loomset
