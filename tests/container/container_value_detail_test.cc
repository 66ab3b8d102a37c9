// The detail getters: the plain getters' values, with the call, rule, cache and failure behind
// each answer.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ContainerTestEnvironment.h"
#include "container/MOXContainerRuntime.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXExpandedResource.h"
#include "loomset/MOXRuntime.h"
#include "loomset/Objects.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using testing::boolValue;
using testing::constantMacro;
using testing::CountingMacro;
using testing::dataLayerMacro;
using testing::fnValue;
using testing::intValue;
using testing::makeCall;
using testing::mapValue;
using testing::predicateCall;
using testing::refValue;
using testing::strValue;

class PushCounter : public MOXDataLayerListener {
 public:
  void changed(const std::shared_ptr<Dictionary>&) override { ++pushes; }
  int pushes = 0;
};

// "color": blue by default; red (its second call, never a default) while "screen" is "sale",
// added by rule 1. Rule 0 never passes and would add red too.
class ValueDetailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto red = makeCall({{"function", fnValue("_c")},
                         {"instance_name", strValue("color")},
                         {"value", strValue("red")},
                         {"not_default_macro", boolValue(true)}});
    auto orphan = makeCall({{"function", fnValue("_c")},
                            {"instance_name", strValue("orphan")},
                            {"value", strValue("never")},
                            {"not_default_macro", boolValue(true)}});
    auto builder = MOXExpandedResource::builder();
    builder.setVersion("7");
    builder.addMacro(constantMacro("color", strValue("blue")));
    builder.addMacro(red);
    builder.addMacro(orphan);
    builder.addMacro(dataLayerMacro("screen", "screen"));
    builder.addMacro(constantMacro("count", intValue(12)));
    builder.addMacro(constantMacro("word", strValue("many")));
    builder.addMacro(constantMacro("nested", mapValue({{strValue("a"), intValue(1)}})));
    builder.addMacro(
        constantMacro("visit", intValue(1), mapValue({{strValue("visited"), boolValue(true)}})));
    builder.addMacro(makeCall({{"function", fnValue("_v")}, {"instance_name", strValue("noKey")}}));
    builder.addMacro(
        makeCall({{"function", fnValue("throws")}, {"instance_name", strValue("boom")}}));
    builder.addRule(MOXExpandedRule::builder()
                        .addPositivePredicate(predicateCall("_eq", strValue("x"), strValue("y")))
                        .addAddMacro(red)
                        .addAddMacro(orphan)
                        .build());
    builder.addRule(
        MOXExpandedRule::builder()
            .addPositivePredicate(predicateCall("_eq", refValue("screen"), strValue("sale")))
            .addAddMacro(red)
            .build());
    runtime = MOXRuntime::runtimeWithResource(builder.build(), dataLayer, nullptr, nullptr);
    runtime->addMacro(std::make_shared<CountingMacro>(
        "throws", false,
        [](const MOXParameterMap&) -> ValuePtr { throw IllegalStateException("named failure"); }));
    dataLayer->registerListener(pushes);
  }
  void TearDown() override { dataLayer->unregisterListener(pushes); }

  MOXStringDetail text(const std::string& key) {
    return MOXContainerRuntime::stringDetailForKey(runtime, key);
  }

  testing::ScopedRecordingLogger log;
  std::shared_ptr<MOXDataLayer> dataLayer = MOXDataLayer::create();
  std::shared_ptr<PushCounter> pushes = std::make_shared<PushCounter>();
  std::shared_ptr<MOXRuntime> runtime;
};

TEST_F(ValueDetailTest, NamesTheCallAndTheRuleThatAnswered) {
  MOXStringDetail detail = text("color");
  EXPECT_EQ(detail.value, "blue");
  EXPECT_EQ(detail.why.containerVersion, "7");
  EXPECT_EQ(detail.why.failure, MOXValueFailure::kNone);
  ASSERT_TRUE(detail.why.call.has_value());
  EXPECT_EQ(detail.why.call->instanceName, "color");
  EXPECT_EQ(detail.why.call->position, 0u);
  EXPECT_FALSE(detail.why.call->rule.has_value());  // the name's default
  EXPECT_FALSE(detail.why.isStatic);                // the rule read the data layer

  auto update = Dictionary::create();
  update->setObject(String::create("sale"), "screen");
  dataLayer->push(update);
  detail = text("color");
  EXPECT_EQ(detail.value, "red");
  ASSERT_TRUE(detail.why.call.has_value());
  EXPECT_EQ(detail.why.call->position, 1u);
  EXPECT_EQ(detail.why.call->rule, std::optional<std::size_t>(1));
  EXPECT_FALSE(detail.why.fromStaticCache);
}

TEST_F(ValueDetailTest, ReportsTheStaticCacheAndActsAsThePlainGetter) {
  MOXInt64Detail first = MOXContainerRuntime::int64DetailForKey(runtime, "visit");
  EXPECT_EQ(first.value, 1);
  EXPECT_TRUE(first.why.isStatic);
  EXPECT_FALSE(first.why.fromStaticCache);
  EXPECT_EQ(pushes->pushes, 1);

  // Now the plain getter answers from the cache, and the explanation says so; every lookup pushes
  // the macro's value once, cached or not, explained or not.
  EXPECT_EQ(MOXContainerRuntime::int64ForKey(runtime, "visit"), 1);
  EXPECT_EQ(pushes->pushes, 2);
  MOXInt64Detail again = MOXContainerRuntime::int64DetailForKey(runtime, "visit");
  EXPECT_EQ(again.value, 1);
  EXPECT_TRUE(again.why.fromStaticCache);
  ASSERT_TRUE(again.why.call.has_value());
  EXPECT_EQ(again.why.call->instanceName, "visit");
  EXPECT_EQ(pushes->pushes, 3);
  EXPECT_EQ(MOXContainerRuntime::int64ForKey(runtime, "visit"), 1);
  EXPECT_EQ(pushes->pushes, 4);
}

TEST_F(ValueDetailTest, AnswersWhatThePlainGettersAnswer) {
  for (const char* key : {"color", "screen", "count", "word", "nested", "noKey", "boom", "orphan",
                          "missing", "visit"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(text(key).value, MOXContainerRuntime::stringForKey(runtime, key));
    EXPECT_EQ(MOXContainerRuntime::booleanDetailForKey(runtime, key).value,
              MOXContainerRuntime::booleanForKey(runtime, key));
    EXPECT_EQ(MOXContainerRuntime::int64DetailForKey(runtime, key).value,
              MOXContainerRuntime::int64ForKey(runtime, key));
    EXPECT_EQ(MOXContainerRuntime::doubleDetailForKey(runtime, key).value,
              MOXContainerRuntime::doubleForKey(runtime, key));
  }
}

TEST_F(ValueDetailTest, NamesEachKindOfFailureWithItsReason) {
  MOXStringDetail missing = text("missing");
  EXPECT_EQ(missing.why.failure, MOXValueFailure::kNoSuchMacro);
  EXPECT_EQ(missing.why.failureReason, "Invalid macro: missing");
  EXPECT_FALSE(missing.why.call.has_value());
  EXPECT_EQ(missing.why.containerVersion, "7");

  MOXInt64Detail word = MOXContainerRuntime::int64DetailForKey(runtime, "word");
  EXPECT_EQ(word.value, 0);
  EXPECT_EQ(word.why.failure, MOXValueFailure::kConversionFailed);
  EXPECT_EQ(word.why.failureReason, "Failed to convert many to a number.");
  EXPECT_TRUE(word.why.call.has_value());
  // The same value as text converts.
  EXPECT_EQ(text("word").why.failure, MOXValueFailure::kNone);

  MOXStringDetail noKey = text("noKey");
  EXPECT_EQ(noKey.why.failure, MOXValueFailure::kEvaluationFailed);
  EXPECT_NE(noKey.why.failureReason.find("Incorrect keys for function _v"), std::string::npos)
      << noKey.why.failureReason;
  ASSERT_TRUE(noKey.why.call.has_value());
  EXPECT_EQ(noKey.why.call->instanceName, "noKey");
  EXPECT_FALSE(noKey.why.isStatic);

  MOXStringDetail boom = text("boom");
  EXPECT_EQ(boom.why.failure, MOXValueFailure::kEvaluationFailed);
  EXPECT_EQ(boom.why.failureReason, "named failure");
  EXPECT_TRUE(
      log->contains("Calling stringForKey threw an exception: named failure Returning default"));

  MOXStringDetail orphan = text("orphan");
  EXPECT_EQ(orphan.why.failure, MOXValueFailure::kEvaluationFailed);
  EXPECT_EQ(orphan.why.failureReason, "no rule added a call of orphan and it has no default call");
  EXPECT_FALSE(orphan.why.call.has_value());

  MOXBooleanDetail closed = MOXContainerRuntime::booleanDetailForKey(nullptr, "color");
  EXPECT_FALSE(closed.value);
  EXPECT_EQ(closed.why.failure, MOXValueFailure::kClosedContainer);
  EXPECT_TRUE(log->contains("booleanForKey called for closed container"));
}

TEST_F(ValueDetailTest, KeepsReasonsThatTheLoggerWouldDrop) {
  log->setLogLevel(kMOXLogLevelNone);
  MOXDoubleDetail word = MOXContainerRuntime::doubleDetailForKey(runtime, "word");
  EXPECT_EQ(word.why.failure, MOXValueFailure::kConversionFailed);
  EXPECT_EQ(word.why.failureReason, "Failed to convert many to a number.");
}

TEST(ValueFailureNames, AreStable) {
  EXPECT_STREQ(MOXValueFailureName(MOXValueFailure::kNone), "none");
  EXPECT_STREQ(MOXValueFailureName(MOXValueFailure::kClosedContainer), "closedContainer");
  EXPECT_STREQ(MOXValueFailureName(MOXValueFailure::kNoSuchMacro), "noSuchMacro");
  EXPECT_STREQ(MOXValueFailureName(MOXValueFailure::kEvaluationFailed), "evaluationFailed");
  EXPECT_STREQ(MOXValueFailureName(MOXValueFailure::kConversionFailed), "conversionFailed");
}

TEST(ContainerValueDetail, AClosedContainerStillNamesItsVersion) {
  testing::ContainerTestEnvironment env;
  auto manager = env.newManager();
  env.writeBundleFile("GTM-DETAIL",
                      testing::constantResource("9", {{"greeting", "hi"}}).SerializeAsString());
  auto container = MOXContainer::create("GTM-DETAIL", manager);
  MOXStringDetail open = container->stringDetailForKey("greeting");
  EXPECT_EQ(open.value, "hi");
  EXPECT_EQ(open.why.containerVersion, "9");
  container->close();
  MOXStringDetail closed = container->stringDetailForKey("greeting");
  EXPECT_EQ(closed.value, "");
  EXPECT_EQ(closed.why.failure, MOXValueFailure::kClosedContainer);
  EXPECT_EQ(closed.why.containerVersion, "9");
  EXPECT_EQ(container->int64DetailForKey("greeting").why.failure,
            MOXValueFailure::kClosedContainer);
}

}  // namespace
}  // namespace loomset
