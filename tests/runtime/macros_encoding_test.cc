#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "loomset/MOXTypes.h"
#include "runtime/macros/MOXEncode.h"
#include "runtime/macros/MOXHashMacro.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using namespace testing;
using Params = std::vector<std::pair<std::string, ValuePtr>>;

TEST(EncodeMacro, ReEncodesBetweenTextHexAndBothBase64Alphabets) {
  ScopedRecordingLogger log;
  MOXEncode enc;
  EXPECT_EQ(stringResult(evaluateDirectly(enc, {{"arg0", strValue("abc")}})), "616263");
  EXPECT_EQ(stringResult(evaluateDirectly(
                enc, {{"arg0", strValue("abc")}, {"output_format", strValue("base64")}})),
            "YWJj");
  // 0xFB 0xFF is where the two alphabets differ, and it needs padding.
  EXPECT_EQ(stringResult(evaluateDirectly(enc, {{"arg0", strValue("fbff")},
                                                {"input_format", strValue("base16")},
                                                {"output_format", strValue("base64")}})),
            "+/8=");
  EXPECT_EQ(stringResult(evaluateDirectly(enc, {{"arg0", strValue("FBFF")},
                                                {"input_format", strValue("base16")},
                                                {"output_format", strValue("base64url")}})),
            "-_8=");
  EXPECT_EQ(stringResult(evaluateDirectly(enc, {{"arg0", strValue("FBFF")},
                                                {"input_format", strValue("base16")},
                                                {"output_format", strValue("base64url")},
                                                {"no_padding", strValue("true")}})),
            "-_8");
  EXPECT_EQ(stringResult(evaluateDirectly(enc, {{"arg0", strValue("-_8")},
                                                {"input_format", strValue("base64url")},
                                                {"no_padding", boolValue(true)}})),
            "FBFF");
  EXPECT_EQ(stringResult(evaluateDirectly(
                enc, {{"arg0", strValue("YWJj")}, {"input_format", strValue("base64")}})),
            "616263");
  // Non-ASCII text is encoded as its UTF-8 bytes.
  EXPECT_EQ(stringResult(evaluateDirectly(enc, {{"arg0", strValue("\xC3\xA9")}})), "C3A9");
  // A non-text arg0 is encoded through its text form.
  EXPECT_EQ(stringResult(evaluateDirectly(enc, {{"arg0", intValue(12)}})), "3132");
  EXPECT_TRUE(log->messages(kMOXLogLevelError).empty());
}

TEST(EncodeMacro, BadInputIsLoggedOrSilentAsDocumented) {
  ScopedRecordingLogger log;
  MOXEncode enc;
  // Malformed hex, odd length included, is the one decoding failure that is reported.
  EXPECT_EQ(evaluateDirectly(enc, {{"arg0", strValue("zz")}, {"input_format", strValue("base16")}}),
            MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Encode: invalid input: zz"));
  EXPECT_EQ(
      evaluateDirectly(enc, {{"arg0", strValue("abc")}, {"input_format", strValue("base16")}}),
      MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Encode: invalid input: abc"));
  // Decoding comes first: malformed hex is reported even with an unknown output format.
  log->clear();
  EXPECT_EQ(evaluateDirectly(enc, {{"arg0", strValue("zz")},
                                   {"input_format", strValue("base16")},
                                   {"output_format", strValue("rot13")}}),
            MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Encode: invalid input: zz"));
  EXPECT_FALSE(log->contains("unknown output format"));

  log->clear();
  EXPECT_EQ(evaluateDirectly(enc, {{"arg0", strValue("abc")}, {"output_format", strValue("text")}}),
            MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Encode: unknown output format: text"));
  EXPECT_EQ(
      evaluateDirectly(enc, {{"arg0", strValue("abc")}, {"input_format", strValue("base32")}}),
      MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Encode: unknown input format: base32"));

  // Text that is not base64 decodes to no bytes: the empty text, nothing logged. So do
  // a digit after padding and leftover bits that are not zero.
  log->clear();
  for (const char* bad : {"a*b", "YQ==YQ", "YR"}) {
    for (const char* format : {"base64", "base64url"}) {
      const ValuePtr result =
          evaluateDirectly(enc, {{"arg0", strValue(bad)}, {"input_format", strValue(format)}});
      EXPECT_EQ(stringResult(result), "") << bad << " as " << format;
    }
  }
  // Empty input gives the default value, silently.
  EXPECT_EQ(evaluateDirectly(enc, {{"arg0", strValue("")}}), MOXTypes::defaultValue());
  EXPECT_TRUE(log->messages(kMOXLogLevelError).empty());
}

TEST(HashMacro, DigestsAreUpperCaseHexOfTheStandardAlgorithms) {
  ScopedRecordingLogger log;
  MOXHashMacro hsh;
  const std::vector<std::pair<std::string, std::string>> abc = {
      {"MD5", "900150983CD24FB0D6963F7D28E17F72"},
      {"SHA-1", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
      {"SHA-256", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
      {"SHA-384",
       "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA134"
       "C825A7"},
      {"SHA-512",
       "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A2192992A274FC1A836BA3C23A3"
       "FEEBBD454D4423643CE80E2A9AC94FA54CA49F"},
  };
  for (const auto& [algorithm, digest] : abc) {
    EXPECT_EQ(stringResult(evaluateDirectly(
                  hsh, {{"arg0", strValue("abc")}, {"algorithm", strValue(algorithm)}})),
              digest)
        << algorithm;
  }
  // MD5 by default; hex input (either case) is hashed as its bytes.
  EXPECT_EQ(stringResult(evaluateDirectly(hsh, {{"arg0", strValue("abc")}})), abc[0].second);
  EXPECT_EQ(stringResult(evaluateDirectly(
                hsh, {{"arg0", strValue("616263")}, {"input_format", strValue("base16")}})),
            abc[0].second);
  // The empty text is hashed like any other.
  EXPECT_EQ(stringResult(evaluateDirectly(hsh, {{"arg0", strValue("")}})),
            "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(stringResult(evaluateDirectly(
                hsh, {{"arg0", strValue("")}, {"algorithm", strValue("SHA-256")}})),
            "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
  EXPECT_TRUE(log->messages(kMOXLogLevelError).empty());
}

TEST(HashMacro, FailuresAnswerTheDefaultValueWithTheirLines) {
  ScopedRecordingLogger log;
  MOXHashMacro hsh;
  // Names match exactly, letter case included.
  EXPECT_EQ(evaluateDirectly(hsh, {{"arg0", strValue("abc")}, {"algorithm", strValue("md5")}}),
            MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Hash error. Algorithm: md5"));
  EXPECT_EQ(
      evaluateDirectly(hsh, {{"arg0", strValue("abc")}, {"input_format", strValue("base64")}}),
      MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Hash: unknown input format: base64"));
  // Malformed hex answers the default value instead of raising out of the macro.
  for (const char* bad : {"6", "6g"}) {
    EXPECT_EQ(
        evaluateDirectly(hsh, {{"arg0", strValue(bad)}, {"input_format", strValue("base16")}}),
        MOXTypes::defaultValue());
    EXPECT_TRUE(log->contains(std::string("Hash: invalid input: ") + bad));
  }

  log->clear();
  EXPECT_EQ(evaluateDirectly(hsh, {{"arg0", MOXTypes::defaultValue()}}), MOXTypes::defaultValue());
  EXPECT_TRUE(log->lines().empty());

  try {
    hsh.hash("abc", "SHA-3");
    FAIL() << "an unknown algorithm must raise";
  } catch (const NoSuchAlgorithmException& e) {
    EXPECT_EQ(e.name(), "NoSuchAlgorithmException");
    EXPECT_EQ(e.reason(), "Unknown algorithmSHA-3");
  }
}

}  // namespace
}  // namespace loomset
