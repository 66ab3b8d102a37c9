#include <gtest/gtest.h>

#include "loomset/MOXTypes.h"
#include "runtime/predicates/MOXNumberPredicate.h"
#include "runtime/predicates/MOXRegex.h"
#include "runtime/predicates/MOXStringPredicate.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using namespace testing;

bool run(MOXFunctionCallImplementation& predicate, ValuePtr arg0, ValuePtr arg1,
         std::vector<std::pair<std::string, ValuePtr>> extra = {}) {
  MOXParameterMap parameters;
  parameters.append("function", fnValue(predicate.instanceFunctionId()));
  if (arg0) parameters.append("arg0", std::move(arg0));
  if (arg1) parameters.append("arg1", std::move(arg1));
  for (auto& [key, value] : extra) parameters.append(key, value);
  const ValuePtr result = predicate.evaluate(parameters);
  EXPECT_EQ(result->type(), MOXPValue::Boolean);
  return result->boolean();
}

TEST(Predicates, TextPredicatesAndTheEmptyOperand) {
  MOXContains contains;
  MOXEndsWith endsWith;
  MOXStartsWith startsWith;
  MOXEquals equals;
  MOXRegex regex;
  for (MOXFunctionCallImplementation* p : std::initializer_list<MOXFunctionCallImplementation*>{
           &contains, &endsWith, &startsWith, &regex}) {
    EXPECT_TRUE(run(*p, strValue("anything"), strValue(""))) << p->instanceFunctionId();
    EXPECT_TRUE(run(*p, strValue(""), strValue(""))) << p->instanceFunctionId();
    EXPECT_FALSE(run(*p, strValue("ab"), strValue("zz"))) << p->instanceFunctionId();
    EXPECT_TRUE(p->isCacheable());
  }
  EXPECT_TRUE(run(contains, strValue("shopping cart"), strValue("ping")));
  EXPECT_TRUE(run(startsWith, strValue("shopping"), strValue("shop")));
  EXPECT_FALSE(run(startsWith, strValue("sh"), strValue("shop")));
  EXPECT_TRUE(run(endsWith, strValue("shopping"), strValue("ping")));
  EXPECT_FALSE(run(endsWith, strValue("ng"), strValue("ping")));

  EXPECT_TRUE(run(equals, strValue(""), strValue("")));
  EXPECT_FALSE(run(equals, strValue("a"), strValue("")));
  EXPECT_FALSE(run(equals, strValue("Abc"), strValue("abc")));
  // Operands compare by their text form.
  EXPECT_TRUE(run(equals, intValue(5), strValue("5")));
  EXPECT_TRUE(run(equals, boolValue(true), strValue("true")));
  EXPECT_TRUE(run(equals, listValue({strValue("a"), intValue(1)}), strValue("[a, 1]")));
}

TEST(Predicates, NumbersCompareByValueNeverAsText) {
  MOXGreaterThan gt;
  MOXGreaterEquals ge;
  MOXLessThan lt;
  MOXLessEquals le;
  EXPECT_TRUE(run(gt, strValue("10"), intValue(9)));
  EXPECT_TRUE(run(gt, strValue("10"), strValue("9")));  // text order would say otherwise
  EXPECT_TRUE(run(ge, intValue(2), strValue("2.0")));
  EXPECT_TRUE(run(le, strValue("2.0"), intValue(2)));
  EXPECT_FALSE(run(lt, intValue(2), intValue(2)));
  EXPECT_TRUE(run(lt, intValue(-3), strValue("-2.5")));
  EXPECT_TRUE(run(ge, intValue(INT64_MAX), intValue(INT64_MAX)));

  ScopedRecordingLogger log;
  for (MOXFunctionCallImplementation* p :
       std::initializer_list<MOXFunctionCallImplementation*>{&gt, &ge, &lt, &le}) {
    // Not entirely a number: false in both directions.
    EXPECT_FALSE(run(*p, strValue("12px"), intValue(5))) << p->instanceFunctionId();
    EXPECT_FALSE(run(*p, intValue(5), strValue("abc"))) << p->instanceFunctionId();
  }
}

TEST(Predicates, FailedAndMissingOperandsAreFalse) {
  MOXEquals equals;
  MOXContains contains;
  MOXLessThan lt;
  const ValuePtr failed = MOXTypes::defaultValue();
  // defaultValue() holds the empty text, which "_cn" would otherwise accept.
  EXPECT_FALSE(run(contains, failed, strValue("")));
  EXPECT_FALSE(run(contains, strValue("a"), strValue(""), {{"ignore_case", failed}}));
  EXPECT_FALSE(run(equals, strValue(""), nullptr));
  EXPECT_FALSE(run(lt, nullptr, intValue(1)));
  // A copy of the empty text is a genuine value, not a failure.
  EXPECT_TRUE(run(equals, strValue(""), strValue("")));
  ScopedRecordingLogger log;
  EXPECT_FALSE(run(equals, refValue("m"), strValue("")));
  EXPECT_TRUE(log->contains("Trying to convert a macro reference to object"));
}

TEST(Predicates, RegexUsesIcuSyntaxWithOnlyTheCaseFlag) {
  MOXRegex regex;
  EXPECT_TRUE(run(regex, strValue("abc"), strValue("b")));  // unanchored
  EXPECT_FALSE(run(regex, strValue("Hello"), strValue("^hello$")));
  EXPECT_TRUE(
      run(regex, strValue("Hello"), strValue("^hello$"), {{"ignore_case", boolValue(true)}}));
  EXPECT_TRUE(run(regex, strValue("item-42"), strValue("\\d{2}$")));
  EXPECT_TRUE(run(regex, strValue("caf\xc3\xa9"), strValue("^caf.$")));
  // Multi-line and other flags are off: "." does not cross a line end.
  EXPECT_FALSE(run(regex, strValue("a\nb"), strValue("a.b")));
  {
    ScopedRecordingLogger log;
    EXPECT_FALSE(run(regex, strValue("["), strValue("[")));
    EXPECT_TRUE(log->lines().empty());
  }
  ScopedRecordingLogger log;
  EXPECT_FALSE(
      run(regex, strValue("Hello"), strValue("^hello$"), {{"ignore_case", strValue("yes")}}));
  EXPECT_TRUE(log->contains("Failed to parse an invalid boolean"));
  // Catastrophic backtracking ends as no match instead of stalling the thread.
  EXPECT_FALSE(run(regex, strValue(std::string(40, 'a') + "!"), strValue("^(a+)+$")));
}

}  // namespace
}  // namespace loomset
