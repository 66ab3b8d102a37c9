#include <gtest/gtest.h>

#include "loomset/MOXExpandedResource.h"
#include "loomset/MOXTypes.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using namespace testing;

TEST(ExpandedModel, MacrosAreFiledByNameInInsertionOrder) {
  auto first = constantMacro("m", strValue("1"));
  auto second = constantMacro("m", strValue("2"));
  auto unnamed = makeCall({{"function", fnValue("_c")}});
  auto numbered = makeCall({{"instance_name", intValue(7)}});
  const MOXExpandedResourcePtr resource = MOXExpandedResource::builder()
                                              .addMacro(first)
                                              .addMacro(unnamed)
                                              .addMacro(second)
                                              .addMacro(numbered)
                                              .build();
  ASSERT_NE(resource->macrosByName("m"), nullptr);
  EXPECT_EQ(*resource->macrosByName("m"), (MOXExpandedResource::Calls{first, second}));
  EXPECT_EQ(*resource->macrosByName(""), (MOXExpandedResource::Calls{unnamed}));
  EXPECT_EQ(*resource->macrosByName("7"), (MOXExpandedResource::Calls{numbered}));
  EXPECT_EQ(resource->macrosByName("other"), nullptr);
  EXPECT_EQ(resource->allMacros()[0].first, "m");

  const MOXExpandedResourcePtr empty = MOXExpandedResource::builder().build();
  EXPECT_TRUE(empty->rules().empty());
  EXPECT_TRUE(empty->allMacros().empty());
  EXPECT_EQ(empty->version(), "");
  EXPECT_EQ(empty->resourceFormatVersion(), 0);
}

TEST(ExpandedModel, CallsHaveIdentityAndOwnTheirPropertyMaps) {
  MOXExpandedFunctionCallBuilder builder;
  builder.addPropertyWithValue(strValue("a"), "k").addPropertyWithValue(strValue("b"), "k");
  const auto one = builder.build();
  builder.addPropertyWithValue(strValue("c"), "extra");
  const auto two = builder.build();
  EXPECT_EQ(one->propertyForKey("k")->string(), "b");  // a later value replaces the earlier
  EXPECT_EQ(one->propertyCount(), 1u);
  EXPECT_EQ(two->propertyCount(), 2u);  // built calls do not share the builder's map

  const auto copy = one->copy();
  EXPECT_NE(copy, one);
  EXPECT_EQ(copy->propertyForKey("k"), one->propertyForKey("k"));  // the Values are shared

  auto rule = MOXExpandedRule::builder().addAddTag(one).addAddTag(one).build();
  EXPECT_EQ(rule->addTags().size(), 2u);  // a call added twice stands twice
  EXPECT_NE(one->description().find("Properties: {k="), std::string::npos);
  EXPECT_NE(rule->description().find("Add tags: ("), std::string::npos);
}

TEST(ExpandedModel, CallsWithManyPropertiesFindEveryKeyAndKeepTheLastValue) {
  Props props;
  for (int i = 0; i < 20; ++i) props.push_back({"key" + std::to_string(i), intValue(i)});
  props.push_back({"key13", intValue(99)});
  const auto call = makeCall(props);
  EXPECT_EQ(call->propertyCount(), 20u);
  for (int i = 0; i < 20; ++i) {
    const ValuePtr value = call->propertyForKey("key" + std::to_string(i));
    ASSERT_NE(value, nullptr) << i;
    EXPECT_EQ(value->integer(), i == 13 ? 99 : i);
  }
  EXPECT_EQ(call->propertyForKey("key20"), nullptr);
  EXPECT_EQ(call->properties()[13].first, "key13");  // the key keeps its first place
}

TEST(ExpandedModel, EveryCallTheResourceReachesHasOneDenseOrdinal) {
  auto shared = makeCall({{"function", fnValue("_eq")}});
  auto tag = makeCall({{"function", fnValue("t")}});
  auto removed = makeCall({{"function", fnValue("u")}});
  auto ruleMacro = constantMacro("r", strValue("1"));
  auto defaultMacro = constantMacro("m", strValue("2"));
  auto stranger = makeCall({{"function", fnValue("_c")}});
  auto rule = MOXExpandedRule::builder()
                  .addPositivePredicate(shared)
                  .addNegativePredicate(shared)
                  .addAddTag(tag)
                  .addAddTag(nullptr)
                  .addRemoveTag(removed)
                  .addAddMacro(ruleMacro)
                  .build();
  const MOXExpandedResourcePtr resource = MOXExpandedResource::builder()
                                              .addRule(rule)
                                              .addRule(rule)  // the same rule twice
                                              .addMacro(ruleMacro)
                                              .addMacro(defaultMacro)
                                              .build();
  // First met first: the rule's predicates, tags, macros, then the macro map.
  const std::vector<const MOXExpandedFunctionCall*> expected = {
      shared.get(), tag.get(), removed.get(), ruleMacro.get(), defaultMacro.get()};
  EXPECT_EQ(resource->calls(), expected);
  EXPECT_EQ(resource->callCount(), 5u);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(resource->ordinalOf(*expected[i]), i);
  }
  EXPECT_EQ(resource->ordinalOf(*stranger), MOXExpandedResource::kNoOrdinal);

  // Ordinals belong to the resource: the same call has its own ordinal in another one.
  const MOXExpandedResourcePtr other =
      MOXExpandedResource::builder().addMacro(defaultMacro).build();
  EXPECT_EQ(other->ordinalOf(*defaultMacro), 0u);
  EXPECT_EQ(resource->ordinalOf(*defaultMacro), 4u);
}

TEST(ExpandedModel, ThousandsOfCallsEachFindTheirOwnOrdinal) {
  std::vector<MOXExpandedFunctionCallPtr> calls;
  MOXExpandedResourceBuilder builder;
  MOXExpandedRuleBuilder rule;
  for (int i = 0; i < 3000; ++i) {
    calls.push_back(makeCall({{"function", fnValue("t")}}));
    rule.addAddTag(calls.back());
    if (i % 3 == 0) builder.addMacro(calls.back());  // reached twice, numbered once
  }
  const MOXExpandedResourcePtr resource = builder.addRule(rule.build()).build();
  ASSERT_EQ(resource->callCount(), calls.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    ASSERT_EQ(resource->ordinalOf(*calls[i]), i);
  }
  EXPECT_EQ(resource->ordinalOf(*makeCall({})), MOXExpandedResource::kNoOrdinal);
}

}  // namespace
}  // namespace loomset
