#include <gtest/gtest.h>

#include "loomset/Exceptions.h"
#include "loomset/MOXSerialization.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "support/RecordingLogger.h"

namespace loomset {
namespace {

// The constant a default container defines for `name`.
ValuePtr constantFor(const MOXExpandedResourcePtr& resource, const std::string& name) {
  const auto* calls = resource->macrosByName(name);
  if (!calls || calls->size() != 1) return nullptr;
  EXPECT_EQ((*calls)[0]->propertyForKey("function")->function_id(), "_c");
  return (*calls)[0]->propertyForKey("value");
}

TEST(ResourceSerialization, JsonMembersBecomeConstantMacros) {
  const ObjectPtr tree = MOXSerialization::objectFromJson(
      R"({"greeting": "hello", "count": 3, "ratio": 1.5, "on": true,
          "nested": {"inner": false, "big": 18446744073709551615}})");
  const MOXExpandedResourcePtr resource =
      MOXSerialization::expandedResourceFromDeserializedObject(tree);
  EXPECT_TRUE(resource->rules().empty());
  EXPECT_EQ(resource->version(), "");
  EXPECT_EQ(resource->allMacros().size(), 5u);

  EXPECT_EQ(constantFor(resource, "greeting")->string(), "hello");
  EXPECT_EQ(constantFor(resource, "count")->type(), MOXPValue::Integer);
  EXPECT_EQ(constantFor(resource, "count")->integer(), 3);
  // No floating kind among Values: a fractional number travels as text.
  EXPECT_EQ(constantFor(resource, "ratio")->type(), MOXPValue::String);
  EXPECT_EQ(constantFor(resource, "ratio")->string(), "1.5");
  // JSON booleans are booleans, not the numbers 0 and 1.
  EXPECT_EQ(constantFor(resource, "on")->type(), MOXPValue::Boolean);
  EXPECT_TRUE(constantFor(resource, "on")->boolean());
  const ValuePtr nested = constantFor(resource, "nested");
  ASSERT_EQ(nested->type(), MOXPValue::Map);
  EXPECT_EQ(nested->map_value(0).type(), MOXPValue::Boolean);
  // Beyond the 64-bit range an integer is kept as a floating number rather than lost.
  EXPECT_EQ(nested->map_value(1).type(), MOXPValue::String);
  const ValuePtr instanceName =
      (*resource->macrosByName("count"))[0]->propertyForKey("instance_name");
  EXPECT_EQ(instanceName->type(), MOXPValue::String);
}

TEST(ResourceSerialization, UnsupportedKindsRaiseAndOddTopLevelsGiveEmptyResources) {
  try {
    MOXSerialization::expandedResourceFromDeserializedObject(
        MOXSerialization::objectFromJson(R"({"list": [1, 2]})"));
    ADD_FAILURE() << "an array member must not be accepted";
  } catch (const NotSupportedException& e) {
    EXPECT_EQ(e.reason(), "Type NSArray is not supported");
  }
  EXPECT_THROW(MOXSerialization::expandedResourceFromDeserializedObject(
                   MOXSerialization::objectFromJson(R"({"nothing": null})")),
               NotSupportedException);

  testing::ScopedRecordingLogger log;
  // A fragment is read, but a top-level text defines no macro.
  auto fromString = MOXSerialization::expandedResourceFromDeserializedObject(
      MOXSerialization::objectFromJson(R"("just text")"));
  EXPECT_TRUE(fromString->allMacros().empty());
  // Unreadable text gives no object, which gives an empty resource with the conversion error.
  const ObjectPtr broken = MOXSerialization::objectFromJson("{\"a\": ");
  EXPECT_EQ(broken, nullptr);
  auto fromNothing = MOXSerialization::expandedResourceFromDeserializedObject(broken);
  EXPECT_TRUE(fromNothing->allMacros().empty());
  EXPECT_TRUE(log->contains("Converting to Value from unknown object type: nil"));

  // Nesting beyond the limit is unreadable rather than a stack overflow later.
  std::string deep(MOXSerialization::kMaxNesting + 1, '[');
  deep += std::string(MOXSerialization::kMaxNesting + 1, ']');
  EXPECT_EQ(MOXSerialization::objectFromJson(deep), nullptr);
  std::string deepObjects;
  for (std::size_t i = 0; i < 5000; ++i) deepObjects += "{\"a\":";
  deepObjects += "1" + std::string(5000, '}');
  EXPECT_EQ(MOXSerialization::objectFromJson(deepObjects), nullptr);

  // A NUL byte ends nothing: the text around it is not JSON, however valid the part before it.
  const std::string truncated("{\"a\": 1}\0{\"b\": ", 15);
  EXPECT_EQ(MOXSerialization::objectFromJson(truncated), nullptr);
  EXPECT_EQ(MOXSerialization::objectFromJson(std::string("{\"a\": \"x\0y\"}", 12)), nullptr);
  // Written as an escape, it is an ordinary character of the string.
  const ObjectPtr escaped = MOXSerialization::objectFromJson(R"({"a": "x\u0000y"})");
  ASSERT_NE(escaped, nullptr);
  EXPECT_EQ(MOXTypes::objectToString(asDictionary(escaped)->objectForKey("a"))->text(),
            std::string("x\0y", 3));
}

TEST(ResourceSerialization, PropertyListsOfEitherFormatGiveTheSameConstants) {
  const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>name</key><string>shop</string>
  <key>limit</key><integer>-12</integer>
  <key>rate</key><real>0.25</real>
  <key>enabled</key><false/>
</dict></plist>)";
  const ObjectPtr tree = MOXSerialization::objectFromPropertyList(xml);
  ASSERT_NE(tree, nullptr);
  const MOXExpandedResourcePtr resource =
      MOXSerialization::expandedResourceFromDeserializedObject(tree);
  EXPECT_EQ(constantFor(resource, "name")->string(), "shop");
  EXPECT_EQ(constantFor(resource, "limit")->integer(), -12);
  EXPECT_EQ(constantFor(resource, "rate")->string(), "0.25");
  EXPECT_EQ(constantFor(resource, "enabled")->type(), MOXPValue::Boolean);
  EXPECT_FALSE(constantFor(resource, "enabled")->boolean());

  const std::string withData = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>blob</key><data>AAEC</data></dict></plist>)";
  try {
    MOXSerialization::expandedResourceFromDeserializedObject(
        MOXSerialization::objectFromPropertyList(withData));
    ADD_FAILURE() << "data must not be accepted";
  } catch (const NotSupportedException& e) {
    EXPECT_EQ(e.reason(), "Type NSData is not supported");
  }

  testing::ScopedRecordingLogger log;
  EXPECT_EQ(MOXSerialization::objectFromPropertyList("not a plist at all"), nullptr);
  EXPECT_EQ(MOXSerialization::objectFromPropertyList(""), nullptr);
}

// A string holding a NUL byte (a damaged file, or a hostile one) is read up to it; libplist's
// copying getter would have stopped the process (found by fuzzing).
TEST(ResourceSerialization, APropertyListStringWithANulByteIsReadUpToIt) {
  const std::string xml = std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>greeting</key><string>hel)") +
                          '\0' + "lo</string></dict></plist>";
  const ObjectPtr tree = MOXSerialization::objectFromPropertyList(xml);
  ASSERT_NE(tree, nullptr);
  const MOXExpandedResourcePtr resource =
      MOXSerialization::expandedResourceFromDeserializedObject(tree);
  EXPECT_EQ(constantFor(resource, "greeting")->string(), "hel");
}

}  // namespace
}  // namespace loomset
