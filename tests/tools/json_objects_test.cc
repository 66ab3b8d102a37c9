#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "loomset/MOXDataLayer.h"
#include "loomset/Objects.h"
#include "tools/loomset/JsonLines.h"
#include "tools/loomset/JsonObjects.h"
#include "tools/loomset/StrictJson.h"

namespace loomset::tools {
namespace {

std::string errorOf(const std::string& text, std::size_t maxNesting = kMaxJsonNesting) {
  try {
    parseStrictJson(text, maxNesting);
  } catch (const JsonInputError& e) {
    return e.what();
  }
  return "(parsed)";
}

TEST(StrictJson, LocatesProblemsByPathOrPosition) {
  EXPECT_EQ(errorOf(R"({"a": {"b": 1, "b": 2}})"), "$.a.b: duplicate member");
  EXPECT_EQ(errorOf(R"({"list": [1, {"odd key": 1, "odd key": 2}]})"),
            "$.list[1][\"odd key\"]: duplicate member");
  // The same name in sibling objects is not a duplicate.
  EXPECT_EQ(errorOf(R"([{"a": 1}, {"a": 2}])"), "(parsed)");
  EXPECT_EQ(errorOf("[[[1]]]", 2), "$[0][0]: nested more than 2 levels deep");
  EXPECT_EQ(errorOf("[[1]]", 2), "(parsed)");
  const std::string syntax = errorOf("{\n  \"a\": tru\n}");
  EXPECT_EQ(syntax.rfind("line 2, column", 0), 0u) << syntax;

  // Member order is kept.
  const Json parsed = parseStrictJson(R"({"z": 1, "a": 2, "m": 3})");
  std::string order;
  for (const auto& item : parsed.items()) order += item.key();
  EXPECT_EQ(order, "zam");
}

TEST(JsonObjects, ReadsEveryKindAndTheNotPresentMarker) {
  const ObjectPtr object = jsonToObject(parseStrictJson(
      R"({"i": 3, "f": 1.0, "huge": 18446744073709551615, "t": true, "n": null, "s": "x",
          "l": [1, {"$notPresent": true}], "notMarker": {"$notPresent": false}})"));
  const Dictionary* d = asDictionary(object);
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(asNumber(d->objectForKey("i"))->isIntegerKind());
  EXPECT_EQ(asNumber(d->objectForKey("i"))->longLongValue(), 3);
  // 1.0 is written as a fraction, so it stays a floating number.
  EXPECT_TRUE(asNumber(d->objectForKey("f"))->isFloatingKind());
  EXPECT_TRUE(asNumber(d->objectForKey("huge"))->isFloatingKind());
  ASSERT_NE(asBoolean(d->objectForKey("t")), nullptr);
  EXPECT_TRUE(asBoolean(d->objectForKey("t"))->boolValue());
  EXPECT_EQ(d->objectForKey("n"), Null::null());
  EXPECT_EQ(asArray(d->objectForKey("l"))->objectAtIndex(1), kMOXDataLayerObjectNotPresent());
  EXPECT_NE(asDictionary(d->objectForKey("notMarker")), nullptr);
}

TEST(JsonObjects, WritesNumbersByKindAndKeysByText) {
  auto d = Dictionary::create();
  d->setObject(Number::int64(-7), "int");
  d->setObject(Number::float64(2.0), "float");
  d->setObject(Number::float64(0.1), "tenth");
  d->setObject(Number::float64(std::numeric_limits<double>::infinity()), "inf");
  d->setObject(Number::float64(std::nan("")), "nan");
  d->setObject(Number::platformBool(true), "platformBool");
  d->setObject(MOXBoolean::booleanWithBool(false), "bool");
  d->setObject(Null::null(), "null");
  d->setObject(kMOXDataLayerObjectNotPresent(), "marker");
  d->setObject(String::create("value"), Number::int64(5));
  d->setObject(String::create("bad \xff utf8"), "bytes");
  EXPECT_EQ(toJsonLine(objectToJson(d)),
            R"({"int":-7,"float":2.0,"tenth":0.1,"inf":"Infinity","nan":"NaN","platformBool":1,)"
            R"("bool":false,"null":null,"marker":{"$notPresent":true},"5":"value",)"
            "\"bytes\":\"bad \xef\xbf\xbd utf8\"}");
  EXPECT_EQ(objectToJson(nullptr), Json(nullptr));
}

TEST(JsonLines, SkipsBlankLinesAndReportsBadOnesWithTheirNumbers) {
  std::istringstream in("{\"a\": 1}\r\n\n   \n{bad\n[2]\n");
  JsonLinesReader reader(in);
  JsonLine line;
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line.lineNumber, 1u);
  ASSERT_TRUE(line.json);
  EXPECT_EQ(line.json->at("a"), 1);
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line.lineNumber, 4u);
  EXPECT_FALSE(line.json);
  EXPECT_NE(line.error.find("line 1, column"), std::string::npos) << line.error;
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line.lineNumber, 5u);
  ASSERT_TRUE(line.json);
  EXPECT_FALSE(reader.next(line));
}

}  // namespace
}  // namespace loomset::tools
