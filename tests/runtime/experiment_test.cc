#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "loomset/MOXDataLayer.h"
#include "loomset/MOXExpandedResource.h"
#include "loomset/MOXRuntime.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "runtime/MOXExperimentMacroHelper.h"
#include "support/RecordingDataLayerStore.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

using namespace testing;

struct RandomEntry {
  std::string key;
  std::int64_t min = 0;
  std::int64_t max = 2147483647;
  bool retain = false;
  std::int64_t lifetime = 0;
};

class ExperimentTest : public ::testing::Test {
 protected:
  static MOXPSupplemental supplemental(const std::vector<RandomEntry>& entries,
                                       const std::vector<ValuePtr>& pushes = {},
                                       const std::vector<std::string>& clears = {}) {
    MOXPSupplemental s;
    s.set_name("qzExperiment:test");
    MOXPQzExperimentSupplemental* experiment = s.mutable_experiment_supplemental();
    for (const auto& value : pushes) *experiment->add_value_to_push() = *value;
    for (const auto& prefix : clears) *experiment->add_value_to_clear() = *strValue(prefix);
    for (const auto& entry : entries) {
      MOXPQzExperimentRandom* random = experiment->add_experiment_random();
      if (!entry.key.empty()) random->set_key(entry.key);
      // Unset fields keep the schema's defaults, as they arrive from the server.
      if (entry.min != 0) random->set_min_random(entry.min);
      if (entry.max != 2147483647) random->set_max_random(entry.max);
      if (entry.retain) random->set_retain_original_value(true);
      if (entry.lifetime != 0) random->set_lifetime_in_milliseconds(entry.lifetime);
    }
    return s;
  }
  void apply(const MOXPSupplemental& s) {
    MOXExperimentMacroHelper::handleExperimentSupplemental(dataLayer, s);
  }
  std::string get(const std::string& key) { return describe(dataLayer->get(key)); }
  std::int64_t number(const std::string& key) {
    const Number* n = asNumber(dataLayer->get(key));
    EXPECT_TRUE(n) << key << " holds " << get(key);
    return n ? n->longLongValue() : -1;
  }

  ScopedPlatform platform;
  std::shared_ptr<RecordingDataLayerStore> store = std::make_shared<RecordingDataLayerStore>();
  std::shared_ptr<MOXDataLayer> dataLayer = MOXDataLayer::createWithPersistentStore(store);
};

TEST_F(ExperimentTest, RetainsAnEarlierNumberOnlyWithinTheBounds) {
  dataLayer->push(obj::dict({{"exp", obj::i64(7)}}));
  apply(supplemental({{"exp", 0, 10, true}}));
  EXPECT_EQ(number("exp"), 7);
  EXPECT_EQ(store->clears(), std::vector<std::string>{"exp"});
  // Both bounds count as inside.
  apply(supplemental({{"exp", 7, 7, true}}));
  EXPECT_EQ(number("exp"), 7);

  // Outside the bounds: a new draw, and the upper bound is never drawn.
  std::set<std::int64_t> seen;
  for (int i = 0; i < 40; ++i) {
    dataLayer->push(obj::dict({{"exp", obj::i64(7)}}));
    apply(supplemental({{"exp", 8, 10, true}}));
    seen.insert(number("exp"));
  }
  EXPECT_EQ(seen, (std::set<std::int64_t>{8, 9}));

  // Text is no number, even when it reads as one.
  dataLayer->push(obj::dict({{"exp", obj::str("7")}}));
  apply(supplemental({{"exp", 100, 200, true}}));
  EXPECT_GE(number("exp"), 100);
  EXPECT_LT(number("exp"), 200);
}

TEST_F(ExperimentTest, DrawsStayWithinTheBoundsAndAreRedrawnWithoutRetain) {
  apply(supplemental({{"fixed", 5, 5}}));
  EXPECT_EQ(number("fixed"), 5);

  std::set<std::int64_t> seen;
  for (int i = 0; i < 20; ++i) {
    apply(supplemental({{"v", -50, 50}}));
    const std::int64_t v = number("v");
    EXPECT_GE(v, -50);
    EXPECT_LT(v, 50);
    seen.insert(v);
  }
  EXPECT_GT(seen.size(), 5u);  // replaced on every application

  // Unset bounds: 0 up to 2147483647.
  apply(supplemental({{"d"}}));
  EXPECT_GE(number("d"), 0);
  EXPECT_LT(number("d"), 2147483647);
}

TEST_F(ExperimentTest, WideRangesAreDrawnOverTheirWholeWidth) {
  SeededRandomSource random(7);
  const std::int64_t min64 = std::numeric_limits<std::int64_t>::min();
  const std::int64_t max64 = std::numeric_limits<std::int64_t>::max();
  bool anyAboveMin = false, anyNegative = false, anyBeyond32Bits = false;
  for (int i = 0; i < 50; ++i) {
    // A width of exactly 2^32 cut to 32 bits would be 0 and always give the lower bound.
    const std::int64_t a = MOXExperimentMacroHelper::drawInRange(random, 0, 4294967296LL);
    EXPECT_GE(a, 0);
    EXPECT_LT(a, 4294967296LL);
    anyAboveMin = anyAboveMin || a > 0;
    // The full signed range: no overflow in the width or the sum.
    const std::int64_t b = MOXExperimentMacroHelper::drawInRange(random, min64, max64);
    EXPECT_LT(b, max64);
    anyNegative = anyNegative || b < 0;
    anyBeyond32Bits = anyBeyond32Bits || b > std::int64_t{1} << 40;
  }
  EXPECT_TRUE(anyAboveMin);
  EXPECT_TRUE(anyNegative);
  EXPECT_TRUE(anyBeyond32Bits);
  EXPECT_EQ(MOXExperimentMacroHelper::drawInRange(random, max64, max64), max64);
}

TEST_F(ExperimentTest, LifetimesTravelAsWenLifetime) {
  apply(supplemental({{"exp.var", 3, 4, false, 1000}}));
  EXPECT_EQ(number("exp.var"), 3);
  ASSERT_EQ(store->saves().size(), 1u);
  EXPECT_EQ(store->saves()[0].lifetimeInMillis, 1000);
  ASSERT_EQ(store->saves()[0].keyValues.size(), 1u);
  EXPECT_EQ(store->saves()[0].keyValues[0].key(), "exp.var");

  // A key under "wen" shares the map that carries the lifetime.
  apply(supplemental({{"wen.x", 1, 2, false, 2000}}));
  EXPECT_EQ(number("wen.x"), 1);
  ASSERT_EQ(store->saves().size(), 2u);
  EXPECT_EQ(store->saves()[1].lifetimeInMillis, 2000);
  EXPECT_EQ(store->saves()[1].keyValues[0].key(), "wen.x");

  // No lifetime: nothing is saved.
  apply(supplemental({{"plain", 1, 2}}));
  EXPECT_EQ(store->saves().size(), 2u);

  ScopedRecordingLogger log;
  apply(supplemental({{"wen", 9, 10, false, 1000}}));
  EXPECT_EQ(log->count("QzExperimentRandom: wen not a map"), 1);
  EXPECT_EQ(number("wen"), 9);  // pushed all the same, without a lifetime
  EXPECT_EQ(store->saves().size(), 2u);
}

TEST_F(ExperimentTest, ClearsThenPushesThenDrawsAndSkipsBadItemsWithOneWarningEach) {
  dataLayer->push(obj::dict({{"old", obj::dict({{"a", obj::i64(1)}, {"b", obj::i64(2)}})}}));
  ScopedRecordingLogger log;
  apply(supplemental(
      {{""}, {"bad", 10, 5}, {"good", 1, 2}},
      {mapValue({{strValue("old"), mapValue({{strValue("c"), intValue(3)}})}}),
       listValue({strValue("not a map")}), mapValue({{strValue("pushed"), strValue("yes")}})},
      {"old"}));
  // The clear came before the push, so the pushed map is all that is under "old".
  EXPECT_EQ(get("old"), "{c = 3}");
  EXPECT_EQ(get("pushed"), "yes");
  EXPECT_EQ(number("good"), 1);
  EXPECT_EQ(dataLayer->get("bad"), nullptr);
  EXPECT_EQ(log->count("value: (not a map) is not a map value, ignored."), 1);
  EXPECT_EQ(log->count("QzExperimentRandom: No key"), 1);
  EXPECT_EQ(log->count("QzExperimentRandom: random range invalid"), 1);
  EXPECT_EQ(log->lines().size(), 3u);

  MOXPSupplemental empty;
  empty.set_name("qzExperiment:empty");
  apply(empty);
  EXPECT_EQ(log->count("supplemental missing experimentSupplemental"), 1);
}

// A listener that throws on one key: the experiment's other items are still applied.
class ThrowingListener : public MOXDataLayerListener {
 public:
  void changed(const std::shared_ptr<Dictionary>& update) override {
    if (update->objectForKey(std::string_view("explode"))) throw std::runtime_error("listener");
  }
};

TEST_F(ExperimentTest, AFailingPushDoesNotStopTheRest) {
  dataLayer->registerListener(std::make_shared<ThrowingListener>());
  ScopedRecordingLogger log;
  EXPECT_NO_THROW(apply(supplemental({{"explode", 1, 2}, {"after", 4, 5}},
                                     {mapValue({{strValue("explode"), intValue(1)}}),
                                      mapValue({{strValue("next"), intValue(2)}})})));
  EXPECT_EQ(number("next"), 2);
  EXPECT_EQ(number("after"), 4);
  EXPECT_EQ(log->count("listener"), 2);
}

TEST_F(ExperimentTest, TheRuntimeAppliesOnlyExperimentSupplementals) {
  auto runtime = MOXRuntime::runtimeWithResource(MOXExpandedResourceBuilder().build(), dataLayer,
                                                 nullptr, nullptr);
  ASSERT_TRUE(runtime);
  MOXPSupplemental other = supplemental({{"ignored", 1, 2}});
  other.set_name("settings");
  runtime->setSupplementals(
      std::vector<MOXPSupplemental>{other, supplemental({{"applied", 1, 2}})});
  EXPECT_EQ(dataLayer->get("ignored"), nullptr);
  EXPECT_EQ(number("applied"), 1);
}

}  // namespace
}  // namespace loomset
