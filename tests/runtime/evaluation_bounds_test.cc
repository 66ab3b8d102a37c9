// A few bytes of resource can describe an evaluation that builds an enormous value (each level
// refers twice to the one below). Such evaluations must stop at the node limit, fail like any
// failed macro and never be cached, while ordinary lookups stay untouched.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "loomset/MOXRuntime.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using namespace testing;

using Doubler = std::function<ValuePtr(const ValuePtr& below)>;

std::string level(int i) {
  return "m" + std::to_string(i);
}

// m0 is a non-cacheable leaf (so nothing below the top is ever static); every level above holds
// its level below twice.
class EvaluationBoundsTest : public ::testing::Test {
 protected:
  void build(int levels, const Doubler& doubler) {
    leaf = std::make_shared<CountingMacro>("leaf", false,
                                           [](const MOXParameterMap&) { return strValue("x"); });
    MOXExpandedResourceBuilder b;
    b.addMacro(makeCall({{"instance_name", strValue(level(0))}, {"function", fnValue("leaf")}}));
    for (int i = 1; i <= levels; ++i) {
      b.addMacro(constantMacro(level(i), doubler(refValue(level(i - 1)))));
    }
    runtime = MOXRuntime::runtimeWithResource(b.build(), nullptr, nullptr, nullptr);
    runtime->addMacro(leaf);
  }
  MOXPValueAndStatic lookup(int i) { return runtime->evaluateMacroReference(level(i)); }

  std::shared_ptr<CountingMacro> leaf;
  std::shared_ptr<MOXRuntime> runtime;
};

const Doubler kList = [](const ValuePtr& below) { return listValue({below, below}); };
const Doubler kMap = [](const ValuePtr& below) {
  return mapValue({{strValue("a"), below}, {strValue("b"), below}});
};
const Doubler kTemplate = [](const ValuePtr& below) { return templateValue({below, below}); };

TEST_F(EvaluationBoundsTest, ModestNestedResultsAreBuiltWhole) {
  build(10, kList);
  const MOXPValueAndStatic result = lookup(10);
  ASSERT_NE(result.value(), MOXTypes::defaultValue());
  EXPECT_FALSE(result.isStatic());
  // 2^10 leaves in ten levels of pairs.
  std::function<int(const ObjectPtr&)> leaves = [&](const ObjectPtr& object) {
    const Array* array = asArray(object);
    if (!array) return 1;
    int n = 0;
    for (const ObjectPtr& item : array->items()) n += leaves(item);
    return n;
  };
  EXPECT_EQ(leaves(MOXTypes::valueToObject(result.value())), 1024);
  // A budget belongs to one lookup: the same lookup again is built whole again.
  EXPECT_NE(lookup(10).value(), MOXTypes::defaultValue());
}

TEST_F(EvaluationBoundsTest, ExplodingListsMapsAndTemplatesStopAtTheNodeLimit) {
  for (const Doubler& doubler : {kList, kMap, kTemplate}) {
    build(16, doubler);
    ScopedRecordingLogger log;
    EXPECT_EQ(lookup(16).value(), MOXTypes::defaultValue());
    EXPECT_EQ(log->count("Evaluation result too large"), 1);
    // The work stopped near the limit instead of visiting all 2^16 leaves.
    EXPECT_LT(leaf->calls(), 1 << 16);
    // Failures of this kind are never cached: the next lookup is evaluated (and refused) again.
    const int before = leaf->calls();
    EXPECT_EQ(lookup(16).value(), MOXTypes::defaultValue());
    EXPECT_GT(leaf->calls(), before);
    EXPECT_EQ(log->count("Evaluation result too large"), 2);
    // Lower levels, evaluated on their own, still fit.
    EXPECT_NE(lookup(8).value(), MOXTypes::defaultValue());
  }
}

TEST_F(EvaluationBoundsTest, TwentyLevelsFinishQuickly) {
  // Before results were bounded this lookup built a value of 2^21 nodes; it must now end at the
  // limit (the suite's time-out is the guard here, not a timed assertion).
  build(24, kList);
  ScopedRecordingLogger log;
  EXPECT_EQ(lookup(24).value(), MOXTypes::defaultValue());
  EXPECT_LE(leaf->calls(), static_cast<int>(MOXRuntime::kMaxEvaluatedNodes));
}

}  // namespace
}  // namespace loomset
