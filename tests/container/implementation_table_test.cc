// The table of implementations the tools check against is the runtime's own: every call it says
// lacks keys, the runtime refuses for those keys, in every role.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loomset/MOXDataLayer.h"
#include "loomset/MOXExpandedResource.h"
#include "loomset/MOXImplementationTable.h"
#include "loomset/MOXRuntime.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using testing::fnValue;
using testing::makeCall;
using testing::strValue;

const std::vector<std::string> kBareKeys{"function", "instance_name"};

MOXExpandedFunctionCallPtr bareCall(const std::string& functionId) {
  return makeCall({{"function", fnValue(functionId)}, {"instance_name", strValue("probe")}});
}

TEST(ImplementationTable, KnowsTheBuiltInsWithTheirRequiredKeys) {
  const MOXImplementationTable& table = MOXImplementationTable::builtIn();
  ASSERT_NE(table.find(MOXCallRole::kMacro, "_v"), nullptr);
  EXPECT_EQ(table.find(MOXCallRole::kMacro, "_v")->requiredKeys, std::vector<std::string>{"name"});
  EXPECT_EQ(table.find(MOXCallRole::kTag, "_dlw")->requiredKeys, std::vector<std::string>{"value"});
  EXPECT_EQ(table.find(MOXCallRole::kMacro, "_dlw"), nullptr);
  EXPECT_NE(table.find(MOXCallRole::kMacro, "_func"), nullptr);
  EXPECT_NE(table.find(MOXCallRole::kTag, "_func"), nullptr);

  const MOXCallCheck unknown = table.check(MOXCallRole::kMacro, "_dlw", kBareKeys);
  EXPECT_TRUE(unknown.unknownFunctionId);
  EXPECT_EQ(unknown.otherRoles, std::vector<MOXCallRole>{MOXCallRole::kTag});
  const MOXCallCheck eq = table.check(MOXCallRole::kPredicate, "_eq", {"function", "arg1"});
  EXPECT_FALSE(eq.unknownFunctionId);
  EXPECT_EQ(eq.missingKeys, std::vector<std::string>{"arg0"});
  EXPECT_TRUE(table.check(MOXCallRole::kMacro, "_c", {"function", "value"}).ok());
}

TEST(ImplementationTable, MacrosItFlagsAreTheOnesTheRuntimeRefuses) {
  testing::ScopedRecordingLogger log;
  const MOXImplementationTable& table = MOXImplementationTable::builtIn();
  ASSERT_GT(table.implementations(MOXCallRole::kMacro).size(), 20u);
  for (const MOXImplementationInfo& info : table.implementations(MOXCallRole::kMacro)) {
    const MOXCallCheck check = table.check(MOXCallRole::kMacro, info.functionId, kBareKeys);
    if (check.missingKeys.empty()) continue;  // would run for real
    SCOPED_TRACE(info.functionId);
    auto runtime = MOXRuntime::runtimeWithResource(
        MOXExpandedResource::builder().addMacro(bareCall(info.functionId)).build(),
        MOXDataLayer::create(), nullptr, nullptr);
    log->clear();
    runtime->evaluateMacroReference("probe");
    EXPECT_TRUE(log->contains("Incorrect keys for function " + info.functionId));
  }
  auto runtime = MOXRuntime::runtimeWithResource(
      MOXExpandedResource::builder().addMacro(bareCall("_zz")).build(), nullptr, nullptr, nullptr);
  runtime->evaluateMacroReference("probe");
  EXPECT_TRUE(log->contains("_zz has no backing implementation."));
  EXPECT_TRUE(table.check(MOXCallRole::kMacro, "_zz", kBareKeys).unknownFunctionId);
}

TEST(ImplementationTable, PredicatesAndTagsItFlagsAreTheOnesTheRuntimeRefuses) {
  testing::ScopedRecordingLogger log;
  const MOXImplementationTable& table = MOXImplementationTable::builtIn();
  for (MOXCallRole role : {MOXCallRole::kPredicate, MOXCallRole::kTag}) {
    for (const MOXImplementationInfo& info : table.implementations(role)) {
      if (table.check(role, info.functionId, kBareKeys).missingKeys.empty()) continue;
      SCOPED_TRACE(info.functionId);
      auto rule = MOXExpandedRule::builder();
      if (role == MOXCallRole::kPredicate) {
        rule.addPositivePredicate(bareCall(info.functionId));
      } else {
        rule.addAddTag(bareCall(info.functionId));
      }
      auto runtime = MOXRuntime::runtimeWithResource(
          MOXExpandedResource::builder().addRule(rule.build()).build(), MOXDataLayer::create(),
          nullptr, nullptr);
      log->clear();
      runtime->evaluateTags("any");
      EXPECT_TRUE(log->contains("Incorrect keys for function " + info.functionId));
    }
  }
}

}  // namespace
}  // namespace loomset
