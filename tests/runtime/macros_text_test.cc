#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "loomset/MOXTypes.h"
#include "runtime/macros/MOXJoinerMacro.h"
#include "runtime/macros/MOXRegexGroup.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using namespace testing;
using Params = std::vector<std::pair<std::string, ValuePtr>>;

TEST(JoinerMacro, JoinsListsMapsAndSingleValues) {
  MOXJoinerMacro jn;
  const ValuePtr abc = listValue({strValue("a"), strValue("b"), strValue("c")});
  EXPECT_EQ(stringResult(evaluateDirectly(jn, {{"arg0", abc}, {"item_separator", strValue(",")}})),
            "a,b,c");
  EXPECT_EQ(stringResult(evaluateDirectly(jn, {{"arg0", abc}})), "abc");
  EXPECT_EQ(
      stringResult(evaluateDirectly(jn, {{"arg0", mapValue({{strValue("a"), intValue(1)}})}})),
      "a=1");
  EXPECT_EQ(
      stringResult(evaluateDirectly(
          jn, {{"arg0", mapValue({{strValue("a"), intValue(1)}, {strValue("b"), boolValue(true)}})},
               {"item_separator", strValue("&")},
               {"key_value_separator", strValue(":")}})),
      "a:1&b:true");
  EXPECT_EQ(stringResult(
                evaluateDirectly(jn, {{"arg0", listValue({})}, {"item_separator", strValue(",")}})),
            "");
  EXPECT_EQ(
      stringResult(evaluateDirectly(jn, {{"arg0", strValue("a b")}, {"escape", strValue("url")}})),
      "a%20b");
  EXPECT_EQ(stringResult(evaluateDirectly(jn, {{"arg0", intValue(42)}})), "42");
}

TEST(JoinerMacro, EscapesItemsButNeverSeparators) {
  ScopedRecordingLogger log;
  MOXJoinerMacro jn;
  EXPECT_EQ(
      stringResult(evaluateDirectly(jn, {{"arg0", listValue({strValue("a b"), strValue("c&d")})},
                                         {"item_separator", strValue("&")},
                                         {"escape", strValue("url")}})),
      "a%20b&c%26d");
  // A backslash is doubled even when no separator holds one.
  EXPECT_EQ(stringResult(evaluateDirectly(
                jn, {{"arg0", listValue({strValue("a\\b")})}, {"escape", strValue("backslash")}})),
            "a\\\\b");
  EXPECT_EQ(
      stringResult(evaluateDirectly(jn, {{"arg0", mapValue({{strValue("a=b"), strValue("c,d")}})},
                                         {"item_separator", strValue(",")},
                                         {"escape", strValue("backslash")}})),
      "a\\=b=c\\,d");
  // A backslash inside a separator is not escaped twice.
  EXPECT_EQ(
      stringResult(evaluateDirectly(jn, {{"arg0", listValue({strValue("x\\y"), strValue("z")})},
                                         {"item_separator", strValue("\\|")},
                                         {"escape", strValue("backslash")}})),
      "x\\\\y\\|z");
  EXPECT_TRUE(log->lines().empty());
}

TEST(JoinerMacro, BackslashEscapingWorksOnWholeCharacters) {
  MOXJoinerMacro jn;
  // The separator "é" is C3 A9; "©" is C2 A9 and must survive intact.
  const std::string eAcute = "\xC3\xA9", copyright = "\xC2\xA9";
  EXPECT_EQ(stringResult(evaluateDirectly(
                jn, {{"arg0", listValue({strValue(copyright + eAcute), strValue("z")})},
                     {"item_separator", strValue(eAcute)},
                     {"escape", strValue("backslash")}})),
            copyright + "\\" + eAcute + eAcute + "z");
  EXPECT_EQ(MOXJoinerMacro::charsToBackslashEscape(",\\" + eAcute, "=,"),
            (std::vector<std::string>{",", eAcute, "="}));
}

TEST(JoinerMacro, UnsupportedEscapeAndUnevenMapsFail) {
  ScopedRecordingLogger log;
  MOXJoinerMacro jn;
  EXPECT_EQ(evaluateDirectly(jn, {{"arg0", strValue("a")}, {"escape", strValue("html")}}),
            MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Joiner: unsupported escape type"));

  auto uneven = std::make_shared<MOXPValue>();
  uneven->set_type(MOXPValue::Map);
  *uneven->add_map_key() = *strValue("a");
  *uneven->add_map_key() = *strValue("b");
  *uneven->add_map_value() = *strValue("1");
  EXPECT_EQ(evaluateDirectly(jn, {{"arg0", uneven}}), MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Joiner: uneven map keys (2) and map values (1)"));
}

const ValuePtr kSubject = strValue("abc-123");
const ValuePtr kPattern = strValue("([a-z]+)-([0-9]+)");

TEST(RegexGroupMacro, AnswersTheRequestedGroupOfTheFirstMatch) {
  ScopedRecordingLogger log;
  MOXRegexGroup reg;
  EXPECT_EQ(stringResult(evaluateDirectly(reg, {{"arg0", kSubject}, {"arg1", kPattern}})), "abc");
  EXPECT_EQ(stringResult(evaluateDirectly(
                reg, {{"arg0", kSubject}, {"arg1", kPattern}, {"group", intValue(2)}})),
            "123");
  EXPECT_EQ(stringResult(evaluateDirectly(
                reg, {{"arg0", kSubject}, {"arg1", kPattern}, {"group", strValue("2")}})),
            "123");
  EXPECT_EQ(stringResult(evaluateDirectly(
                reg, {{"arg0", kSubject}, {"arg1", kPattern}, {"group", intValue(0)}})),
            "abc-123");
  // The first match counts, not the longest; matching is case-sensitive unless asked.
  EXPECT_EQ(stringResult(evaluateDirectly(
                reg, {{"arg0", strValue("x1 y22")}, {"arg1", strValue("[a-z]([0-9]+)")}})),
            "1");
  EXPECT_EQ(evaluateDirectly(reg, {{"arg0", strValue("ABC")}, {"arg1", strValue("(b)")}}),
            MOXTypes::defaultValue());
  EXPECT_EQ(stringResult(evaluateDirectly(reg, {{"arg0", strValue("ABC")},
                                                {"arg1", strValue("(b)")},
                                                {"ignore_case", boolValue(true)}})),
            "B");
  // Characters beyond ASCII come back whole.
  EXPECT_EQ(stringResult(evaluateDirectly(
                reg, {{"arg0", strValue("caf\xC3\xA9!")}, {"arg1", strValue("(\\w+)")}})),
            "caf\xC3\xA9");
  EXPECT_TRUE(log->lines().empty());
}

TEST(RegexGroupMacro, MissingGroupsAndNoMatchAreSilent) {
  ScopedRecordingLogger log;
  MOXRegexGroup reg;
  EXPECT_EQ(evaluateDirectly(reg, {{"arg0", kSubject}, {"arg1", kPattern}, {"group", intValue(3)}}),
            MOXTypes::defaultValue());
  EXPECT_EQ(
      evaluateDirectly(reg, {{"arg0", kSubject}, {"arg1", kPattern}, {"group", intValue(-1)}}),
      MOXTypes::defaultValue());
  EXPECT_EQ(evaluateDirectly(reg, {{"arg0", strValue("none")}, {"arg1", kPattern}}),
            MOXTypes::defaultValue());
  EXPECT_EQ(evaluateDirectly(reg, {{"arg0", MOXTypes::defaultValue()}, {"arg1", kPattern}}),
            MOXTypes::defaultValue());
  EXPECT_EQ(evaluateDirectly(reg, {{"arg0", kSubject}, {"arg1", MOXTypes::defaultValue()}}),
            MOXTypes::defaultValue());
  // A group past the 32-bit range must not wrap around onto group 1.
  EXPECT_EQ(evaluateDirectly(
                reg, {{"arg0", kSubject}, {"arg1", kPattern}, {"group", intValue(4294967297)}}),
            MOXTypes::defaultValue());
  // A negative group is refused before the pattern is even compiled.
  EXPECT_EQ(
      evaluateDirectly(reg, {{"arg0", kSubject}, {"arg1", strValue("(")}, {"group", intValue(-2)}}),
      MOXTypes::defaultValue());
  EXPECT_TRUE(log->lines().empty());
}

TEST(RegexGroupMacro, BadPatternsGroupsAndRunawayMatchesAreLogged) {
  ScopedRecordingLogger log;
  MOXRegexGroup reg;
  EXPECT_EQ(
      evaluateDirectly(reg, {{"arg0", kSubject}, {"arg1", kPattern}, {"group", strValue("x")}}),
      MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Invalid group number: x"));
  for (const char* bad : {"(", "[a-", "a{2,1}", "*"}) {
    EXPECT_EQ(evaluateDirectly(reg, {{"arg0", kSubject}, {"arg1", strValue(bad)}}),
              MOXTypes::defaultValue());
    EXPECT_TRUE(log->contains(std::string("Invalid regex pattern: ") + bad)) << bad;
  }
  // The second alternative matched: group 1 took no part, group 2 did.
  log->clear();
  EXPECT_EQ(evaluateDirectly(reg, {{"arg0", strValue("b")}, {"arg1", strValue("(a)|(b)")}}),
            MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("took no part in the match"));
  EXPECT_EQ(
      stringResult(evaluateDirectly(
          reg, {{"arg0", strValue("b")}, {"arg1", strValue("(a)|(b)")}, {"group", intValue(2)}})),
      "b");

  log->clear();
  const std::string runaway(40, 'a');
  EXPECT_EQ(
      evaluateDirectly(reg, {{"arg0", strValue(runaway + "!")}, {"arg1", strValue("(a+)+$")}}),
      MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Regex match took too long: (a+)+$"));
}

}  // namespace
}  // namespace loomset
