#include "loomset/MOXTypes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <thread>
#include <vector>

#include "loomset/Objects.h"
#include "support/RecordingLogger.h"

namespace loomset {
namespace {

using namespace obj;
using testing::ScopedRecordingLogger;

// An application object the value model knows nothing about.
class Widget final : public Object {
 public:
  ObjectKind kind() const override { return ObjectKind::Other; }
  std::string className() const override { return "Widget"; }
  std::string description() const override { return "<Widget>"; }
};

ValuePtr stringValue(const std::string& text) {
  auto v = std::make_shared<MOXPValue>();
  v->set_type(MOXPValue::String);
  v->set_string(text);
  return v;
}

void addInteger(MOXPValue* v, std::int64_t i) {
  v->set_type(MOXPValue::Integer);
  v->set_integer(i);
}

void addString(MOXPValue* v, const std::string& s) {
  v->set_type(MOXPValue::String);
  v->set_string(s);
}

TEST(MOXTypesSentinels, AreDistinctStableAndNeverGenuineValues) {
  const std::set<const void*> numbers = {MOXTypes::defaultInt64().get(),
                                         MOXTypes::defaultDouble().get(),
                                         MOXTypes::defaultNumber().get()};
  EXPECT_EQ(numbers.size(), 3u);
  EXPECT_TRUE(MOXTypes::defaultInt64()->isEqual(*Number::int64(0)));
  EXPECT_EQ(MOXTypes::defaultObject(), nullptr);
  EXPECT_NE(MOXTypes::defaultBoolean(), MOXBoolean::no());
  EXPECT_FALSE(MOXTypes::defaultBoolean()->boolValue());
  EXPECT_EQ(MOXTypes::defaultString()->text(), "");
  EXPECT_EQ(MOXTypes::defaultValue()->type(), MOXPValue::String);
  EXPECT_TRUE(MOXTypes::defaultValue()->has_string());

  // Genuine zeros, empty strings and false never come back as a sentinel.
  ScopedRecordingLogger log;
  EXPECT_NE(MOXTypes::parseInt64("0"), MOXTypes::defaultInt64());
  EXPECT_NE(MOXTypes::parseDouble("0"), MOXTypes::defaultDouble());
  EXPECT_NE(MOXTypes::parseNumber("0"), MOXTypes::defaultNumber());
  EXPECT_NE(MOXTypes::objectToString(str("")), MOXTypes::defaultString());
  EXPECT_NE(MOXTypes::objectToValue(str("")), MOXTypes::defaultValue());
  EXPECT_NE(MOXTypes::parseBoolean("false"), MOXTypes::defaultBoolean());
  EXPECT_NE(MOXTypes::valueToString(stringValue("")), MOXTypes::defaultString());
  EXPECT_EQ(log->lines().size(), 0u);

  // Every thread sees the same instances.
  std::vector<const void*> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = MOXTypes::defaultValue().get(); });
  }
  for (auto& t : threads) t.join();
  for (const void* p : seen) EXPECT_EQ(p, MOXTypes::defaultValue().get());
}

TEST(MOXTypesNumbers, WholeTextScanAcceptsIntegersThenDecimals) {
  struct Case {
    std::string text;
    bool integer;
    double value;
  };
  const Case accepted[] = {
      {"12", true, 12},
      {" 12", true, 12},
      {"\t\n 12", true, 12},
      {"+7", true, 7},
      {"-0", true, 0},
      {"1e3", false, 1000},
      {"2.5", false, 2.5},
      {".5", false, 0.5},
      {"12.", false, 12},
      {"-1.5E-2", false, -0.015},
      {"\xC2\xA0"
       "4",
       true, 4},
  };
  for (const auto& c : accepted) {
    SCOPED_TRACE(c.text);
    const auto n = MOXTypes::numberWithString(c.text);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->isIntegerKind(), c.integer);
    EXPECT_EQ(n->doubleValue(), c.value);
  }
  const std::string rejected[] = {"",
                                  "   ",
                                  "12 ",
                                  "12px",
                                  "-",
                                  "+",
                                  "1e",
                                  "e3",
                                  ".",
                                  "--5",
                                  "1.2.3",
                                  "inf",
                                  "nan",
                                  "0x10",
                                  "1_000",
                                  "1e3 ",
                                  std::string("12\0", 3)};
  for (const auto& text : rejected) {
    EXPECT_EQ(MOXTypes::numberWithString(text), nullptr) << text;
  }
}

TEST(MOXTypesNumbers, OutOfRangeTextSaturates) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  EXPECT_EQ(MOXTypes::numberWithString("9223372036854775807")->longLongValue(), kMax);
  EXPECT_EQ(MOXTypes::numberWithString("-9223372036854775808")->longLongValue(), kMin);
  EXPECT_EQ(MOXTypes::numberWithString("9223372036854775808")->longLongValue(), kMax);
  EXPECT_EQ(MOXTypes::numberWithString("-9223372036854775809")->longLongValue(), kMin);
  const auto huge = MOXTypes::numberWithString(std::string(100000, '9'));
  ASSERT_NE(huge, nullptr);
  EXPECT_TRUE(huge->isIntegerKind());
  EXPECT_EQ(huge->longLongValue(), kMax);

  EXPECT_EQ(MOXTypes::numberWithString("1e400")->doubleValue(),
            std::numeric_limits<double>::infinity());
  EXPECT_EQ(MOXTypes::numberWithString("-0.001e-400")->doubleValue(), 0.0);
  EXPECT_TRUE(std::signbit(MOXTypes::numberWithString("-1e-400")->doubleValue()));
  EXPECT_TRUE(std::isinf(MOXTypes::numberWithString(std::string(5000, '7') + ".5")->doubleValue()));
  EXPECT_GT(MOXTypes::numberWithString("4e-320")->doubleValue(), 0.0);  // subnormal, not zero
  EXPECT_EQ(MOXTypes::numberWithString("1e99999999999999999999")->doubleValue(),
            std::numeric_limits<double>::infinity());
  EXPECT_EQ(MOXTypes::numberWithString("0e99999999999999999999")->doubleValue(), 0.0);
}

TEST(MOXTypesNumbers, ParseAndObjectConversionsKeepTheRequestedKind) {
  ScopedRecordingLogger log;
  EXPECT_EQ(MOXTypes::parseInt64("2.7")->longLongValue(), 2);
  EXPECT_EQ(MOXTypes::parseInt64("-2.7")->longLongValue(), -2);
  EXPECT_TRUE(MOXTypes::parseInt64("2.7")->isIntegerKind());
  EXPECT_TRUE(MOXTypes::parseDouble("5")->isFloatingKind());

  EXPECT_EQ(MOXTypes::objectToInt64(str("12.9"))->longLongValue(), 12);
  EXPECT_EQ(MOXTypes::objectToInt64(str("1e3"))->longLongValue(), 1000);
  EXPECT_EQ(MOXTypes::objectToInt64(dbl(2.7))->longLongValue(), 2);
  EXPECT_EQ(MOXTypes::objectToInt64(dbl(1e30))->longLongValue(),
            std::numeric_limits<std::int64_t>::max());
  EXPECT_TRUE(MOXTypes::objectToDouble(i64(5))->isFloatingKind());
  EXPECT_EQ(MOXTypes::objectToDouble(i64(5))->doubleValue(), 5.0);
  const auto number = Number::uint64(7);
  EXPECT_EQ(MOXTypes::objectToNumber(number), number);
  const auto yes = MOXBoolean::booleanWithBool(true);
  EXPECT_EQ(MOXTypes::objectToBoolean(yes), yes);
  EXPECT_EQ(log->lines().size(), 0u);

  EXPECT_EQ(MOXTypes::objectToInt64(str("")), MOXTypes::defaultInt64());
  EXPECT_TRUE(log->contains("Failed to convert  to a number."));
  EXPECT_EQ(MOXTypes::objectToDouble(str("x")), MOXTypes::defaultDouble());
  EXPECT_EQ(MOXTypes::objectToNumber(str("x")), MOXTypes::defaultNumber());
  EXPECT_EQ(log->count("Failed to convert x to a number."), 2);
  EXPECT_EQ(MOXTypes::objectToInt64(dbl(std::nan(""))), MOXTypes::defaultInt64());

  // Numbers are not booleans.
  log->clear();
  EXPECT_EQ(MOXTypes::objectToBoolean(i64(1)), MOXTypes::defaultBoolean());
  EXPECT_TRUE(log->contains("Failed to parse an invalid boolean: 1"));
  EXPECT_TRUE(MOXTypes::valueToBoolean(stringValue("TRUE"))->boolValue());
  EXPECT_EQ(MOXTypes::valueToBoolean(stringValue("yes")), MOXTypes::defaultBoolean());
  EXPECT_EQ(MOXTypes::valueToBoolean(stringValue(" true")), MOXTypes::defaultBoolean());
  EXPECT_EQ(log->count("Failed to parse an invalid boolean:"), 3);

  log->clear();
  EXPECT_EQ(MOXTypes::getInt64(Number::float64(-3.9)), -3);
  EXPECT_EQ(MOXTypes::getDouble(Number::int64(4)), 4.0);
  EXPECT_EQ(MOXTypes::getInt64(str("5")), 0);
  EXPECT_EQ(MOXTypes::getDouble(nullptr), 0.0);
  EXPECT_TRUE(log->contains("getInt64 did not receive NSNumber"));
  EXPECT_TRUE(log->contains("getDouble did not receive NSNumber"));
  EXPECT_TRUE(MOXTypes::isInt64ableNumber(Number::platformBool(true)));
  EXPECT_FALSE(MOXTypes::isInt64ableNumber(Number::uint64(1)));
  EXPECT_FALSE(MOXTypes::isDoubleableNumber(Number::uint64(1)));
  EXPECT_TRUE(MOXTypes::isDoubleableNumber(Number::float32(1.5f)));
}

TEST(MOXTypesObjectToValue, ConvertsEachKind) {
  EXPECT_EQ(MOXTypes::objectToValue(dbl(3.25))->string(), "3.25");
  EXPECT_EQ(MOXTypes::objectToValue(dbl(3.25))->type(), MOXPValue::String);
  EXPECT_EQ(MOXTypes::objectToValue(Number::float32(0.1f))->string(), "0.1");
  EXPECT_EQ(MOXTypes::objectToValue(i64(3))->integer(), 3);
  EXPECT_EQ(MOXTypes::objectToValue(Number::platformBool(true))->type(), MOXPValue::Integer);
  EXPECT_EQ(MOXTypes::objectToValue(Number::platformBool(true))->integer(), 1);
  EXPECT_EQ(MOXTypes::objectToValue(boolean(true))->type(), MOXPValue::Boolean);
  EXPECT_TRUE(MOXTypes::objectToValue(boolean(true))->boolean());

  const auto carried = stringValue("x");
  EXPECT_EQ(MOXTypes::objectToValue(std::make_shared<ValueObject>(carried)), carried);

  const auto map = MOXTypes::objectToValue(dict({{"a", i64(1)}, {"b", array({str("c")})}}));
  ASSERT_EQ(map->type(), MOXPValue::Map);
  ASSERT_EQ(map->map_key_size(), 2);
  ASSERT_EQ(map->map_value_size(), 2);
  EXPECT_EQ(map->map_key(1).string(), "b");
  EXPECT_EQ(map->map_value(1).list_item(0).string(), "c");
  EXPECT_FALSE(map->has_contains_references());
}

TEST(MOXTypesObjectToValue, FailsWholeOnOneBadElementAndPropagatesReferences) {
  ScopedRecordingLogger log;
  const ObjectPtr unknown[] = {std::make_shared<Widget>(), Number::uint64(1), Null::null(),
                               std::make_shared<Marker>("absent")};
  for (const auto& o : unknown) {
    EXPECT_EQ(MOXTypes::objectToValue(array({str("a"), o, std::make_shared<Widget>()})),
              MOXTypes::defaultValue());
    EXPECT_EQ(MOXTypes::objectToValue(dict({{"k", o}})), MOXTypes::defaultValue());
  }
  // Logged once per failed conversion, naming the first element that failed.
  EXPECT_EQ(log->count("Converting to Value from unknown object type: "), 8);
  EXPECT_EQ(log->count("unknown object type: Widget"), 2);
  EXPECT_EQ(log->count("unknown object type: NSNumber"), 2);
  EXPECT_EQ(MOXTypes::objectToValue(nullptr), MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Converting to Value from unknown object type: nil"));

  // A carried failure fails its container too.
  auto failed = std::make_shared<ValueObject>(MOXTypes::defaultValue());
  EXPECT_EQ(MOXTypes::objectToValue(array({failed})), MOXTypes::defaultValue());

  auto reference = std::make_shared<MOXPValue>();
  reference->set_type(MOXPValue::MacroReference);
  reference->set_macro_reference("m");
  reference->set_contains_references(true);
  const auto nested = MOXTypes::objectToValue(
      array({str("a"), dict({{"k", std::make_shared<ValueObject>(reference)}})}));
  EXPECT_TRUE(nested->contains_references());
  EXPECT_TRUE(nested->list_item(1).contains_references());
  EXPECT_FALSE(nested->list_item(0).has_contains_references());
}

TEST(MOXTypesValueToObject, ConvertsEachKindAndFailsWhole) {
  ScopedRecordingLogger log;
  MOXPValue map;
  map.set_type(MOXPValue::Map);
  addString(map.add_map_key(), "k");
  addInteger(map.add_map_value(), 1);
  addString(map.add_map_key(), "k");
  addInteger(map.add_map_value(), 2);
  const ObjectPtr converted = MOXTypes::valueToObject(&map);
  const Dictionary* d = asDictionary(converted);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->count(), 1u);
  EXPECT_EQ(asNumber(d->objectForKey("k"))->longLongValue(), 2);
  EXPECT_EQ(log->lines().size(), 0u);

  addString(map.add_map_key(), "lonely");
  EXPECT_EQ(MOXTypes::valueToObject(&map), nullptr);
  EXPECT_TRUE(log->contains("Converting an invalid value to object: {"));

  MOXPValue reference;
  reference.set_type(MOXPValue::MacroReference);
  reference.set_macro_reference("m");
  EXPECT_EQ(MOXTypes::valueToString(&reference), MOXTypes::defaultString());
  EXPECT_TRUE(log->contains("Trying to convert a macro reference to object"));
  MOXPValue function;
  function.set_type(MOXPValue::FunctionId);
  EXPECT_EQ(MOXTypes::valueToObject(&function), nullptr);
  EXPECT_TRUE(log->contains("Trying to convert a function ID to object"));
  MOXPValue tag;
  tag.set_type(MOXPValue::TagReference);
  EXPECT_EQ(MOXTypes::valueToObject(&tag), nullptr);
  EXPECT_TRUE(log->contains("Failed to convert a value of type: 9"));

  MOXPValue list;
  list.set_type(MOXPValue::List);
  addString(list.add_list_item(), "a");
  *list.add_list_item() = reference;
  EXPECT_EQ(MOXTypes::valueToObject(&list), nullptr);
  EXPECT_EQ(MOXTypes::valueToObject(static_cast<const MOXPValue*>(nullptr)), nullptr);
  EXPECT_EQ(MOXTypes::valueToInt64(&reference), MOXTypes::defaultInt64());

  const auto yes = std::make_shared<MOXPValue>();
  yes->set_type(MOXPValue::Boolean);
  yes->set_boolean(true);
  EXPECT_NE(MOXTypes::valueToBoolean(yes), MOXBoolean::yes());
  EXPECT_TRUE(MOXTypes::valueToBoolean(yes)->boolValue());
}

TEST(MOXTypesValueToObject, TemplatesJoinTokenTexts) {
  ScopedRecordingLogger log;
  MOXPValue tmpl;
  tmpl.set_type(MOXPValue::Template);
  addString(tmpl.add_template_token(), "a");
  addInteger(tmpl.add_template_token(), 1);
  tmpl.add_template_token()->set_type(MOXPValue::Boolean);
  tmpl.mutable_template_token(2)->set_boolean(true);
  MOXPValue* list = tmpl.add_template_token();
  list->set_type(MOXPValue::List);
  addString(list->add_list_item(), "x");
  addString(tmpl.add_template_token(), "");
  EXPECT_EQ(MOXTypes::valueToString(&tmpl)->text(), "a1true[x]");

  MOXPValue* reference = tmpl.add_template_token();
  reference->set_type(MOXPValue::MacroReference);
  EXPECT_EQ(MOXTypes::valueToString(&tmpl), MOXTypes::defaultString());
}

TEST(MOXTypesObjectToString, WritesCollectionsAndScalars) {
  EXPECT_EQ(MOXTypes::objectToString(array({str("a"), i64(1), boolean(true)}))->text(),
            "[a, 1, true]");
  EXPECT_EQ(MOXTypes::objectToString(dict({{"a", i64(1)}}))->text(), "{a=1}");
  EXPECT_EQ(
      MOXTypes::objectToString(dict({{"a", array({dbl(1.5), dict({})})}, {"b", null()}}))->text(),
      "{a=[1.5, {}], b=<null>}");
  EXPECT_EQ(MOXTypes::objectToString(MOXDistinctZero::distinctZero())->text(), "0");
  EXPECT_EQ(MOXTypes::objectToString(nullptr), MOXTypes::defaultString());
  const auto s = String::create("same");
  EXPECT_EQ(MOXTypes::objectToString(s), s);
}

TEST(MOXTypesRoundTrip, ObjectsSurviveAValueAndBack) {
  const ObjectPtr original =
      dict({{"list", array({str("a"), i64(-4), boolean(false), dict({{"n", i64(1)}})})},
            {"text", str("")}});
  const auto value = MOXTypes::objectToValue(original);
  const auto back = MOXTypes::valueToObject(value);
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(back->isEqual(*original)) << describe(back);
  // Floating numbers come back as their text, which reads back to the same number.
  const double d = 0.1 + 0.2;
  const auto text = MOXTypes::valueToObject(MOXTypes::objectToValue(dbl(d)));
  EXPECT_EQ(MOXTypes::objectToDouble(text)->doubleValue(), d);
}

TEST(MOXTypesNesting, DeepOrSelfContainingInputNeverCrashes) {
  ScopedRecordingLogger log;
  constexpr int kDepth = 3000;
  auto root = Array::create();
  auto inner = root;
  for (int i = 0; i < kDepth; ++i) {
    auto next = Array::create();
    inner->addObject(next);
    inner = next;
  }
  EXPECT_EQ(MOXTypes::objectToValue(root), MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Converting to Value from an object nested too deeply: NSArray"));
  EXPECT_NE(MOXTypes::objectToString(root)->text().find("..."), std::string::npos);

  MOXPValue value;
  MOXPValue* v = &value;
  for (int i = 0; i < kDepth; ++i) {
    v->set_type(MOXPValue::List);
    v = v->add_list_item();
  }
  EXPECT_EQ(MOXTypes::valueToObject(&value), nullptr);
  EXPECT_TRUE(log->contains("Converting a value nested too deeply to object"));

  // Moderate nesting still converts.
  auto shallow = Array::create();
  inner = shallow;
  for (int i = 0; i < 100; ++i) {
    auto next = Array::create({str("x")});
    inner->addObject(next);
    inner = next;
  }
  EXPECT_NE(MOXTypes::objectToValue(shallow), MOXTypes::defaultValue());

  auto loop = Array::create({str("a")});
  auto holder = dict({{"self", loop}});
  loop->addObject(holder);
  EXPECT_EQ(MOXTypes::objectToValue(loop), MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Converting to Value from an object that contains itself: NSArray"));
  EXPECT_EQ(MOXTypes::objectToString(loop)->text(), "[a, {self=...}]");
  // The same array twice side by side is not a loop.
  EXPECT_EQ(MOXTypes::objectToString(array({shallow->objectAtIndex(0), shallow->objectAtIndex(0)}))
                ->text()
                .find("..."),
            std::string::npos);
  holder->removeAllObjects();  // break the loop so the test does not leak it
}

}  // namespace
}  // namespace loomset
