#include <gtest/gtest.h>

#include <thread>

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
  copy->updateCacheablePropertyWithValue(strValue("z"), "k");
  EXPECT_EQ(one->propertyForKey("k")->string(), "b");
  EXPECT_EQ(copy->propertyForKey("k")->string(), "z");

  auto rule = MOXExpandedRule::builder().addAddTag(one).addAddTag(one).build();
  EXPECT_EQ(rule->addTags().size(), 2u);  // a call added twice stands twice
  EXPECT_NE(one->description().find("Properties: {k="), std::string::npos);
  EXPECT_NE(rule->description().find("Add tags: ("), std::string::npos);
}

TEST(ExpandedModel, PropertyReplacementToleratesConcurrentReaders) {
  Props props;
  for (int i = 0; i < 20; ++i) props.push_back({"key" + std::to_string(i), intValue(i)});
  const auto call = makeCall(props);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int round = 0; round < 2000; ++round) {
      call->updateCacheablePropertyWithValue(intValue(round), "key" + std::to_string(round % 20));
    }
    done = true;
  });
  int reads = 0;
  while (!done || reads == 0) {
    for (const auto& [key, value] : call->properties()) ASSERT_NE(value, nullptr);
    ASSERT_NE(call->propertyForKey("key13"), nullptr);
    ++reads;
  }
  writer.join();
  EXPECT_EQ(call->propertyCount(), 20u);
}

}  // namespace
}  // namespace loomset
