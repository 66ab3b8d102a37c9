#include "values/MOXValueEscapeUtil.h"

#include <gtest/gtest.h>

#include "support/RecordingLogger.h"

namespace loomset {
namespace {

using testing::ScopedRecordingLogger;

ValuePtr stringValue(const std::string& text) {
  auto v = std::make_shared<MOXPValue>();
  v->set_type(MOXPValue::String);
  v->set_string(text);
  return v;
}

TEST(MOXValueEscapeUtil, EscapeUriEncodesStringsAndKeepsTheStaticFlag) {
  ScopedRecordingLogger log;
  for (bool isStatic : {true, false}) {
    const auto input = MOXPValueAndStatic::valueWithValue(stringValue("a b&c"), isStatic);
    const auto out =
        MOXValueEscapeUtil::applyEscapings(std::vector<int>{MOXPValue::EscapeUri}, input);
    EXPECT_EQ(out.value()->string(), "a%20b%26c");
    EXPECT_EQ(out.value()->type(), MOXPValue::String);
    EXPECT_EQ(out.isStatic(), isStatic);
    EXPECT_EQ(input.value()->string(), "a b&c");  // the input is not changed
  }
  // Codes apply in order, each to the previous result; none gives the input itself.
  MOXPValue carrier;
  carrier.add_escaping(MOXPValue::EscapeUri);
  carrier.add_escaping(MOXPValue::EscapeUri);
  const auto input = MOXPValueAndStatic::valueWithValue(stringValue("a b"), true);
  EXPECT_EQ(MOXValueEscapeUtil::applyEscapings(carrier.escaping(), input).value()->string(),
            "a%2520b");
  EXPECT_EQ(MOXValueEscapeUtil::applyEscapings(std::vector<int>{}, input).value(), input.value());
  EXPECT_EQ(log->lines().size(), 0u);
}

TEST(MOXValueEscapeUtil, UnsupportedCodesAndNonStringsPassUnchanged) {
  ScopedRecordingLogger log;
  const auto text = MOXPValueAndStatic::valueWithValue(stringValue("a b&c"), true);
  const auto html =
      MOXValueEscapeUtil::applyEscapings(std::vector<int>{MOXPValue::EscapeHtml}, text);
  EXPECT_EQ(html.value(), text.value());
  EXPECT_TRUE(log->contains("Unsupported Value Escaping: 1"));

  auto integer = std::make_shared<MOXPValue>();
  integer->set_type(MOXPValue::Integer);
  integer->set_integer(3);
  auto unsetText = std::make_shared<MOXPValue>();
  unsetText->set_type(MOXPValue::String);
  auto unsetKind = std::make_shared<MOXPValue>();
  unsetKind->set_string("x");
  for (const ValuePtr& v :
       {ValuePtr(integer), ValuePtr(unsetText), ValuePtr(unsetKind), ValuePtr()}) {
    const auto in = MOXPValueAndStatic::valueWithValue(v, false);
    EXPECT_EQ(MOXValueEscapeUtil::applyEscaping(MOXPValue::EscapeUri, in).value(), v);
  }
  EXPECT_EQ(log->count("Escaping can only be applied to strings."), 4);
}

TEST(MOXValueEscapeUtil, UrlEncodeLeavesOnlyUnreservedCharacters) {
  EXPECT_EQ(MOXValueEscapeUtil::urlEncode("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(MOXValueEscapeUtil::urlEncode("!*'();:@&=+$,/?%#[]"),
            "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D");
  EXPECT_EQ(MOXValueEscapeUtil::urlEncode(" \"<>\\^`{|}\n\x7f"),
            "%20%22%3C%3E%5C%5E%60%7B%7C%7D%0A%7F");
  EXPECT_EQ(MOXValueEscapeUtil::urlEncode("\xC3\xA9\xF0\x9F\x98\x80"), "%C3%A9%F0%9F%98%80");
  EXPECT_EQ(MOXValueEscapeUtil::urlEncode(std::string("a\0b", 3)), "a%00b");
}

TEST(MOXValueEscapeUtil, UrlDecodeRejectsMalformedEscapesAndInvalidUtf8) {
  EXPECT_EQ(MOXValueEscapeUtil::urlDecode("a%20b%2fc+d"), "a b/c+d");
  EXPECT_EQ(MOXValueEscapeUtil::urlDecode("%C3%A9t%c3%a9"), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(MOXValueEscapeUtil::urlDecode(""), "");
  const std::string original = "k=v&x=\xE2\x82\xAC [1]";
  EXPECT_EQ(MOXValueEscapeUtil::urlDecode(MOXValueEscapeUtil::urlEncode(original)), original);

  const char* malformed[] = {
      "%",      "%4",        "abc%",         "%zz", "%4g",  "%%41",   "%C3",       "%C3%28",
      "%C0%AF", "%ED%A0%80", "%F4%90%80%80", "%FF", "\xC3", "%E2%82", "%F0%9F%98",
  };
  for (const char* text : malformed) {
    EXPECT_EQ(MOXValueEscapeUtil::urlDecode(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace loomset
