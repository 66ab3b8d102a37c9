#include <gtest/gtest.h>

#include <stdexcept>

#include "container/MOXContainerRuntime.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXExpandedResource.h"
#include "loomset/MOXRuntime.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using loomset::testing::constantMacro;
using loomset::testing::CountingMacro;
using loomset::testing::fnValue;
using loomset::testing::makeCall;
using loomset::testing::strValue;

std::shared_ptr<MOXRuntime> runtimeWith(std::vector<MOXExpandedFunctionCallPtr> macros) {
  auto builder = MOXExpandedResource::builder();
  for (auto& macro : macros) builder.addMacro(std::move(macro));
  auto runtime =
      MOXRuntime::runtimeWithResource(builder.build(), MOXDataLayer::create(), nullptr, nullptr);
  runtime->addMacro(std::make_shared<CountingMacro>(
      "throws_named", false,
      [](const MOXParameterMap&) -> ValuePtr { throw IllegalStateException("named failure"); }));
  runtime->addMacro(std::make_shared<CountingMacro>(
      "throws_plain", false,
      [](const MOXParameterMap&) -> ValuePtr { throw std::runtime_error("plain failure"); }));
  return runtime;
}

MOXExpandedFunctionCallPtr throwing(const std::string& name, const std::string& functionId) {
  return makeCall({{"function", fnValue(functionId)}, {"instance_name", strValue(name)}});
}

TEST(ContainerRuntimeGetters, ConvertTheMacroValueOrAnswerTheTypeDefault) {
  loomset::testing::ScopedRecordingLogger log;
  auto runtime =
      runtimeWith({constantMacro("text", strValue("2.75")), constantMacro("flag", strValue("TRUE")),
                   constantMacro("word", strValue("many"))});
  EXPECT_EQ(MOXContainerRuntime::stringForKey(runtime, "text"), "2.75");
  EXPECT_DOUBLE_EQ(MOXContainerRuntime::doubleForKey(runtime, "text"), 2.75);
  EXPECT_EQ(MOXContainerRuntime::int64ForKey(runtime, "text"), 2);
  EXPECT_TRUE(MOXContainerRuntime::booleanForKey(runtime, "flag"));

  // Values that do not convert, and names that name no macro, answer the defaults.
  EXPECT_EQ(MOXContainerRuntime::int64ForKey(runtime, "word"), 0);
  EXPECT_DOUBLE_EQ(MOXContainerRuntime::doubleForKey(runtime, "word"), 0.0);
  EXPECT_FALSE(MOXContainerRuntime::booleanForKey(runtime, "word"));
  EXPECT_EQ(MOXContainerRuntime::stringForKey(runtime, "missing"), "");
  EXPECT_TRUE(log->contains("Invalid macro: missing"));
}

TEST(ContainerRuntimeGetters, CatchWhatEvaluationRaisesAndLogItByGetter) {
  loomset::testing::ScopedRecordingLogger log;
  auto runtime =
      runtimeWith({throwing("named", "throws_named"), throwing("plain", "throws_plain")});
  EXPECT_EQ(MOXContainerRuntime::stringForKey(runtime, "named"), "");
  EXPECT_TRUE(log->contains(
      "Calling stringForKey threw an exception: named failure Returning default value."));
  EXPECT_EQ(MOXContainerRuntime::int64ForKey(runtime, "plain"), 0);
  EXPECT_TRUE(log->contains(
      "Calling int64ForKey threw an exception: plain failure Returning default value."));
  EXPECT_FALSE(MOXContainerRuntime::booleanForKey(runtime, "named"));
  EXPECT_DOUBLE_EQ(MOXContainerRuntime::doubleForKey(runtime, "named"), 0.0);
  EXPECT_TRUE(log->contains("Calling booleanForKey threw an exception: named failure"));
  EXPECT_TRUE(log->contains("Calling doubleForKey threw an exception: named failure"));

  // Without a runtime (a closed container) every getter answers its default.
  EXPECT_EQ(MOXContainerRuntime::stringForKey(nullptr, "x"), "");
  EXPECT_FALSE(MOXContainerRuntime::booleanForKey(nullptr, "x"));
  EXPECT_EQ(MOXContainerRuntime::int64ForKey(nullptr, "x"), 0);
  EXPECT_DOUBLE_EQ(MOXContainerRuntime::doubleForKey(nullptr, "x"), 0.0);
  EXPECT_TRUE(log->contains("stringForKey called for closed container"));
  EXPECT_TRUE(log->contains("booleanForKey called for closed container"));
  EXPECT_TRUE(log->contains("int64ForKey called for closed container"));
  EXPECT_TRUE(log->contains("doubleForKey called for closed container"));
}

}  // namespace
}  // namespace loomset
