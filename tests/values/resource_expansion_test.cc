#include <gtest/gtest.h>

#include "loomset/Exceptions.h"
#include "loomset/MOXResourceUtil.h"
#include "loomset/MOXTypes.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using testing::ServingResourceBuilder;

// Expands and expects the invalid-resource failure with `message` logged.
void expectInvalid(const MOXPResource& resource, const std::string& message) {
  testing::ScopedRecordingLogger log;
  try {
    MOXResourceUtil::expandResource(resource);
    ADD_FAILURE() << "expansion succeeded; expected " << message;
  } catch (const InvalidResourceException& e) {
    EXPECT_EQ(e.reason(), "Resource is invalid");
    EXPECT_TRUE(log->contains(message)) << "missing log: " << message;
  }
}

TEST(ResourceExpansion, ExpandsValuesCallsRulesAndVersionFromBytes) {
  ServingResourceBuilder b;
  const int page = b.addString("page");
  const int seven = b.addInteger(7);
  const int constant = b.addFunctionId("_c");
  const int list = b.addList({page, seven});
  const int map = b.addMap({page}, {seven});
  const int ref = b.addMacroReference(page);
  const int numberRef = b.addMacroReference(seven);
  const int tmpl = b.addTemplate({page, ref}, true);
  const int nameA = b.addString("a");
  const int macro = b.addMacro({{"instance_name", nameA},
                                {"function", constant},
                                {"value", list},
                                {"push_after_evaluate", map}});
  const int tag = b.addTag({{"function", constant}, {"value", tmpl}, {"other", numberRef}});
  const int predicate = b.addPredicate({{"function", constant}});
  for (int i = 0; i < 2; ++i) {
    MOXPRule* rule = b.addRule();
    rule->add_positive_predicate(predicate);
    rule->add_add_tag(tag);
    rule->add_add_macro(macro);
  }
  b.resource().set_version("42");
  b.resource().set_resource_format_version(3);

  const MOXExpandedResourcePtr resource = MOXResourceUtil::expandResourceFromBytes(b.bytes());
  EXPECT_EQ(resource->version(), "42");
  EXPECT_EQ(resource->resourceFormatVersion(), 3);
  ASSERT_EQ(resource->rules().size(), 2u);

  const auto* macros = resource->macrosByName("a");
  ASSERT_NE(macros, nullptr);
  ASSERT_EQ(macros->size(), 1u);
  const auto& call = (*macros)[0];
  // "push_after_evaluate" moves out of the properties.
  EXPECT_EQ(call->propertyForKey("push_after_evaluate"), nullptr);
  EXPECT_EQ(call->propertyCount(), 3u);
  ASSERT_NE(call->pushAfterEvaluate(), nullptr);
  EXPECT_EQ(call->pushAfterEvaluate()->map_key(0).string(), "page");
  EXPECT_EQ(call->pushAfterEvaluate()->map_value(0).integer(), 7);

  const ValuePtr value = call->propertyForKey("value");
  ASSERT_EQ(value->list_item_size(), 2);
  EXPECT_EQ(value->list_item(0).string(), "page");
  EXPECT_EQ(value->list_item(1).integer(), 7);

  // Calls are shared by identity between rules and the macro index.
  const auto& first = *resource->rules()[0];
  const auto& second = *resource->rules()[1];
  EXPECT_EQ(first.addTags()[0], second.addTags()[0]);
  EXPECT_EQ(first.positivePredicates()[0], second.positivePredicates()[0]);
  EXPECT_EQ(first.addMacros()[0], call);

  // Macro names are resolved to text at expansion: a String name and an Integer name.
  const ValuePtr tagTemplate = first.addTags()[0]->propertyForKey("value");
  EXPECT_TRUE(tagTemplate->contains_references());
  ASSERT_EQ(tagTemplate->template_token_size(), 2);
  EXPECT_EQ(tagTemplate->template_token(1).type(), MOXPValue::MacroReference);
  EXPECT_EQ(tagTemplate->template_token(1).macro_reference(), "page");
  EXPECT_EQ(first.addTags()[0]->propertyForKey("other")->macro_reference(), "7");
}

TEST(ResourceExpansion, SharedValuesAreOneObjectAndTreeSizeIsBounded) {
  // Value i is a list holding value i-1 twice: 19 doublings make a tree of 2^20 - 1 nodes,
  // which expansion builds from 21 Value objects.
  auto build = [](int doublings) {
    ServingResourceBuilder b;
    int previous = b.addString("leaf");
    for (int i = 0; i < doublings; ++i) previous = b.addList({previous, previous});
    const int constant = b.addFunctionId("_c");
    const int name = b.addString("deep");
    b.addMacro({{"instance_name", name}, {"function", constant}, {"value", previous}});
    b.addMacro({{"instance_name", name}, {"function", constant}, {"value", previous}});
    return b.resource();
  };
  const MOXExpandedResourcePtr resource = MOXResourceUtil::expandResource(build(19));
  const auto& calls = *resource->macrosByName("deep");
  ASSERT_EQ(calls.size(), 2u);
  const ValuePtr top = calls[0]->propertyForKey("value");
  EXPECT_EQ(top.get(), calls[1]->propertyForKey("value").get());
  EXPECT_EQ(&top->list_item(0), &top->list_item(1));
  EXPECT_EQ(top->list_item(0).list_item(0).list_item(1).type(), MOXPValue::List);
  // One more doubling passes the node limit: walking such a tree would never end.
  expectInvalid(build(20), "Value too large.  Current value reference: 20.");
}

TEST(ResourceExpansion, ValueFailuresNameTheProblem) {
  {
    ServingResourceBuilder b;
    b.addList({0});
    expectInvalid(b.resource(),
                  "Value cycle detected.  Current value reference: 0.  Previous value "
                  "references: {(0)}.");
  }
  {
    ServingResourceBuilder b;
    const int s = b.addString("x");
    b.addMap({s, s}, {s});
    expectInvalid(b.resource(), "Uneven map keys (2) and map values (1)");
  }
  {
    ServingResourceBuilder b;
    MOXPValue ref;
    ref.set_type(MOXPValue::MacroReference);
    ref.MutableExtension(MOXPServingValue::ext);
    b.addValue(ref);
    expectInvalid(b.resource(), "Missing macro name reference");
  }
  {
    ServingResourceBuilder b;
    MOXPValue list;
    list.set_type(MOXPValue::List);
    b.addValue(list);
    expectInvalid(b.resource(), "Expected a ServingValue and didn't get one");
  }
  {
    ServingResourceBuilder b;
    b.addList({5});
    expectInvalid(b.resource(), "Index out of bounds detected: 5 in value");
  }
  {
    ServingResourceBuilder b;
    b.addList({-1});
    expectInvalid(b.resource(), "Index out of bounds detected: 18446744073709551615 in value");
  }
  {
    ServingResourceBuilder b;
    MOXPValue tagRef;
    tagRef.set_type(MOXPValue::TagReference);
    tagRef.set_tag_reference("t");
    b.addValue(tagRef);
    testing::ScopedRecordingLogger log;
    EXPECT_THROW(MOXResourceUtil::expandResource(b.resource()), InvalidResourceException);
    EXPECT_TRUE(log->contains("Tag type of TagReference shouldn't be present"));
    EXPECT_TRUE(log->contains("Invalid value: "));
  }
  {
    // Nesting beyond the limit would exhaust the stack of every later walk of the tree.
    ServingResourceBuilder b;
    int previous = b.addString("leaf");
    for (std::size_t i = 0; i < MOXResourceUtil::kMaxValueNesting + 5; ++i) {
      previous = b.addList({previous});
    }
    expectInvalid(b.resource(), "Value nesting too deep");
  }
}

TEST(ResourceExpansion, CallAndRuleIndicesAreChecked) {
  {
    ServingResourceBuilder b;
    MOXPFunctionCall* call = b.resource().add_macro();
    call->set_function(0);
    call->add_property(0);  // equal to the length of the (empty) property table
    expectInvalid(b.resource(), "Index out of bounds detected: 0 in properties");
  }
  {
    ServingResourceBuilder b;
    const int s = b.addString("x");
    MOXPProperty* property = b.resource().add_property();
    property->set_key(3);
    property->set_value(s);
    MOXPFunctionCall* call = b.resource().add_tag();
    call->set_function(0);
    call->add_property(0);
    expectInvalid(b.resource(), "Index out of bounds detected: 3 in keys");
  }
  {
    ServingResourceBuilder b;
    b.resource().add_key("k");
    MOXPProperty* property = b.resource().add_property();
    property->set_key(0);
    property->set_value(9);
    MOXPFunctionCall* call = b.resource().add_predicate();
    call->set_function(0);
    call->add_property(0);
    expectInvalid(b.resource(), "Index out of bounds detected: 9 in values");
  }
  {
    ServingResourceBuilder b;
    b.addRule()->add_add_tag(0);
    expectInvalid(b.resource(), "Index out of bounds detected: 0 in tags");
  }
  {
    ServingResourceBuilder b;
    b.addRule()->add_negative_predicate(-2);
    expectInvalid(b.resource(), "in predicates");
  }
  {
    ServingResourceBuilder b;
    b.addRule()->add_remove_macro(1);
    expectInvalid(b.resource(), "Index out of bounds detected: 1 in macros");
  }
}

TEST(ResourceExpansion, UnparsableBytesAreAnInvalidResource) {
  testing::ScopedRecordingLogger log;
  EXPECT_THROW(MOXResourceUtil::expandResourceFromBytes("\xff\xff\xff"), InvalidResourceException);
  // A Value without its required kind does not parse either.
  MOXPResource resource;
  resource.add_value()->set_string("no type");
  EXPECT_THROW(MOXResourceUtil::expandResourceFromBytes(resource.SerializePartialAsString()),
               InvalidResourceException);
  // The empty byte string is an empty resource.
  const MOXExpandedResourcePtr empty = MOXResourceUtil::expandResourceFromBytes("");
  EXPECT_TRUE(empty->rules().empty());
  EXPECT_TRUE(empty->allMacros().empty());
  EXPECT_EQ(empty->version(), "");
}

TEST(ResourceExpansion, SchemaKeepsNumbersDefaultsAndUnpackedEncoding) {
  MOXPResource resource;
  EXPECT_EQ(resource.template_version_set(), "0");
  EXPECT_EQ(resource.resource_format_version(), 0);
  MOXPQzExperimentRandom random;
  EXPECT_EQ(random.min_random(), 0);
  EXPECT_EQ(random.max_random(), 2147483647);
  EXPECT_TRUE(MOXPQzServerSideExperimentCombination().enabled());
  EXPECT_EQ(MOXPCacheOption().level(), MOXPCacheOption::NoCache);

  // Repeated numbers travel unpacked: one tag per element (field 3 of a rule, varint = 0x18).
  MOXPRule rule;
  rule.add_add_tag(1);
  rule.add_add_tag(2);
  EXPECT_EQ(rule.SerializeAsString(), std::string("\x18\x01\x18\x02", 4));
  // The serving-value extension is field 101 of the Value (tag 101<<3|2 = 0x32a as a varint).
  MOXPValue value;
  value.set_type(MOXPValue::List);
  value.MutableExtension(MOXPServingValue::ext)->add_list_item(4);
  EXPECT_EQ(value.SerializeAsString(), std::string("\x08\x02\xaa\x06\x02\x08\x04", 7));
  // A packed encoding written by another implementation still reads.
  MOXPRule packed;
  ASSERT_TRUE(packed.ParseFromString(std::string("\x1a\x02\x01\x02", 4)));
  EXPECT_EQ(packed.add_tag_size(), 2);
}

}  // namespace
}  // namespace loomset
