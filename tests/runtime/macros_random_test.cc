#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "loomset/MOXTypes.h"
#include "runtime/macros/MOXRandom.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

using namespace testing;
using Params = std::vector<std::pair<std::string, ValuePtr>>;
constexpr std::int64_t kMin64 = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();

// Answers scripted draws (each kept below the asked bound) and records the bounds asked for.
class ScriptedRandom final : public RandomSource {
 public:
  explicit ScriptedRandom(std::deque<std::uint32_t> draws = {}) : draws_(std::move(draws)) {}
  std::uint32_t uniform(std::uint32_t bound) override {
    bounds.push_back(bound);
    std::uint32_t r = 0;
    if (!draws_.empty()) {
      r = draws_.front();
      draws_.pop_front();
    }
    return bound == 0 ? 0 : std::min(r, bound - 1);
  }
  double unit() override { return 0; }
  std::string uuid() override { return "00000000-0000-4000-8000-000000000000"; }
  std::vector<std::uint32_t> bounds;

 private:
  std::deque<std::uint32_t> draws_;
};

using Range = std::pair<double, double>;
const Range kDefaultRange{0.0, 2147483647.0};

TEST(RandomMacro, BoundsCountOnlyAsAnOrderedFinitePair) {
  EXPECT_EQ(MOXRandom::bounds(5.0, 5.0), Range(5.0, 5.0));
  EXPECT_EQ(MOXRandom::bounds(1.5, 3.5), Range(1.5, 3.5));
  EXPECT_EQ(MOXRandom::bounds(-10.0, -2.0), Range(-10.0, -2.0));
  // Reversed, single, missing or infinite bounds fall back to the default range.
  EXPECT_EQ(MOXRandom::bounds(6.0, 1.0), kDefaultRange);
  EXPECT_EQ(MOXRandom::bounds(100.0, std::nullopt), kDefaultRange);
  EXPECT_EQ(MOXRandom::bounds(std::nullopt, 100.0), kDefaultRange);
  EXPECT_EQ(MOXRandom::bounds(0.0, HUGE_VAL), kDefaultRange);
  EXPECT_EQ(MOXRandom::bounds(-HUGE_VAL, 0.0), kDefaultRange);
}

TEST(RandomMacro, NarrowRangesTakeOneDrawBelowTheRoundedWidth) {
  {
    ScriptedRandom random({7});
    EXPECT_EQ(MOXRandom::draw(5, 5, random), 5);  // no width: always the lower bound
    EXPECT_EQ(random.bounds, std::vector<std::uint32_t>{0});
  }
  {
    ScriptedRandom random({0, 4, 99});
    EXPECT_EQ(MOXRandom::draw(1, 6, random), 1);
    EXPECT_EQ(MOXRandom::draw(1, 6, random), 5);  // the upper bound is exclusive
    EXPECT_EQ(MOXRandom::draw(1, 6, random), 5);
    EXPECT_EQ(random.bounds, (std::vector<std::uint32_t>{5, 5, 5}));
  }
  {
    // Width 2; 1.5 + r is truncated toward zero, as is -1.5 + r.
    ScriptedRandom random({0, 1, 0, 1});
    EXPECT_EQ(MOXRandom::draw(1.5, 3.5, random), 1);
    EXPECT_EQ(MOXRandom::draw(1.5, 3.5, random), 2);
    EXPECT_EQ(MOXRandom::draw(-1.5, 0.5, random), -1);
    EXPECT_EQ(MOXRandom::draw(-1.5, 0.5, random), 0);
  }
  {
    // The widest single draw: 2^32 - 1.
    ScriptedRandom random({0xFFFFFFFEu});
    EXPECT_EQ(MOXRandom::draw(0, 4294967295.0, random), 4294967294);
    EXPECT_EQ(random.bounds, std::vector<std::uint32_t>{0xFFFFFFFFu});
  }
}

TEST(RandomMacro, WideRangesScaleTwoDrawsAndSaturate) {
  {
    // u = 1 * 2^32 + 0, f = 2^-32: 2^40 * 2^-32 = 256.
    ScriptedRandom random({1, 0});
    EXPECT_EQ(MOXRandom::draw(0, 1099511627776.0, random), 256);
    EXPECT_EQ(random.bounds, (std::vector<std::uint32_t>{0xFFFFFFFFu, 0xFFFFFFFFu}));
  }
  {
    ScriptedRandom random({0, 0, 0xFFFFFFFEu, 0xFFFFFFFEu});
    EXPECT_EQ(MOXRandom::draw(-1e300, 1e300, random), kMin64);
    EXPECT_EQ(MOXRandom::draw(-1e300, 1e300, random), kMax64);
  }
  {
    // The difference of these bounds overflows a double; draws must still be defined.
    ScriptedRandom random({0, 0, 0x80000000u, 0, 0xFFFFFFFEu, 0xFFFFFFFEu});
    EXPECT_EQ(MOXRandom::draw(-DBL_MAX, DBL_MAX, random), kMin64);
    EXPECT_EQ(MOXRandom::draw(-DBL_MAX, DBL_MAX, random), 0);  // halfway
    EXPECT_EQ(MOXRandom::draw(-DBL_MAX, DBL_MAX, random), kMax64);
  }
  {
    // A narrow range far beyond 64 bits saturates rather than overflowing.
    ScriptedRandom random({3});
    EXPECT_EQ(MOXRandom::draw(1e20, 1e20 + 4096, random), kMax64);
  }
}

class RandomMacroTest : public ::testing::Test {
 protected:
  ValuePtr evaluate(const Params& params) {
    MOXParameterMap map;
    for (const auto& [key, value] : params) map.append(key, value);
    return macro.evaluate(map);
  }
  std::shared_ptr<ScriptedRandom> scripted = std::make_shared<ScriptedRandom>();
  MOXRandom macro;
};

TEST_F(RandomMacroTest, ParametersPickTheRangeAndResultsAreIntegers) {
  ScopedPlatform platform([&](Platform& p) { p.random = scripted; });
  ScopedRecordingLogger log;
  const ValuePtr result = evaluate({{"min", intValue(10)}, {"max", strValue("20")}});
  EXPECT_EQ(result->type(), MOXPValue::Integer);
  EXPECT_EQ(result->integer(), 10);
  EXPECT_EQ(scripted->bounds.back(), 10u);

  // A single bound is ignored, and not even converted.
  evaluate({{"min", strValue("x")}});
  EXPECT_EQ(scripted->bounds.back(), 2147483647u);
  EXPECT_FALSE(log->contains("Failed to convert"));
  // A bound that is not a number, or is the default value, gives the default range.
  evaluate({{"min", strValue("x")}, {"max", intValue(5)}});
  EXPECT_EQ(scripted->bounds.back(), 2147483647u);
  EXPECT_TRUE(log->contains("Failed to convert x to a number."));
  evaluate({{"min", MOXTypes::defaultValue()}, {"max", intValue(5)}});
  EXPECT_EQ(scripted->bounds.back(), 2147483647u);
  // A decimal text too large for a double is no bound either.
  evaluate({{"min", intValue(0)}, {"max", strValue("1e400")}});
  EXPECT_EQ(scripted->bounds.back(), 2147483647u);
  evaluate({{"min", strValue("1.5")}, {"max", strValue("3.5")}});
  EXPECT_EQ(scripted->bounds.back(), 2u);
}

TEST_F(RandomMacroTest, DrawsFromThePlatformSourceCoverTheRange) {
  ScopedPlatform platform;
  std::set<std::int64_t> seen;
  for (int i = 0; i < 400; ++i) {
    const ValuePtr result = evaluate({{"min", intValue(1)}, {"max", intValue(6)}});
    seen.insert(result->integer());
  }
  EXPECT_EQ(seen, (std::set<std::int64_t>{1, 2, 3, 4, 5}));
  for (int i = 0; i < 50; ++i) {
    const std::int64_t r = evaluate({{"min", intValue(6)}, {"max", intValue(1)}})->integer();
    EXPECT_GE(r, 0);
    EXPECT_LT(r, 2147483647);
  }
  EXPECT_EQ(evaluate({{"min", intValue(5)}, {"max", intValue(5)}})->integer(), 5);
}

}  // namespace
}  // namespace loomset
