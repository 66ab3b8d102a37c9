#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "datalayer/DataLayerTestUtil.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/Objects.h"
#include "support/RecordingDataLayerStore.h"
#include "support/RecordingLogger.h"

namespace loomset {
namespace {

using namespace obj;
using testing::text;

TEST(DataLayerLifetime, TextsWithUnitsBecomeMilliseconds) {
  const struct {
    ObjectPtr lifetime;
    std::int64_t millis;
  } cases[] = {
      {str("1000"), 1000},
      {str("5s"), 5000},
      {str("5 s"), 5000},
      {str("5\t s"), 5000},
      {str("1m"), 60000},
      {str("10m"), 600000},
      {str("1h"), 3600000},
      {str("1d"), 86400000},
      {i64(60000), 60000},
      {str("007s"), 7000},
      // Too large to hold: saturates instead of wrapping into a random or negative lifetime.
      {str("99999999999999999999999d"), std::numeric_limits<std::int64_t>::max()},
      {str("106751991167d"), 106751991167LL * 86400000},
      {str("106751991168d"), std::numeric_limits<std::int64_t>::max()},
  };
  testing::ScopedRecordingLogger log;
  for (const auto& c : cases) {
    EXPECT_EQ(MOXDataLayer::parseLifetime(c.lifetime), std::optional<std::int64_t>(c.millis))
        << text(c.lifetime);
  }
  EXPECT_TRUE(log->lines().empty());
}

TEST(DataLayerLifetime, RefusedLifetimesSayWhyAtTheirLevel) {
  const struct {
    ObjectPtr lifetime;
    std::uint32_t level;
    std::string message;
  } cases[] = {
      {str("5x"), kMOXLogLevelInfo, "unknown lifetime: 5x"},
      {str("5S"), kMOXLogLevelInfo, "unknown lifetime: 5S"},
      {str("10M"), kMOXLogLevelInfo, "unknown lifetime: 10M"},
      {str("1.5h"), kMOXLogLevelInfo, "unknown lifetime: 1.5h"},
      {str("-5s"), kMOXLogLevelInfo, "unknown lifetime: -5s"},
      {str(" 10m"), kMOXLogLevelInfo, "unknown lifetime:  10m"},
      {str("10m "), kMOXLogLevelInfo, "unknown lifetime: 10m "},
      {str("s"), kMOXLogLevelInfo, "unknown lifetime: s"},
      {str(""), kMOXLogLevelInfo, "unknown lifetime: "},
      {dbl(1.5), kMOXLogLevelInfo, "unknown lifetime: 1.5"},
      {boolean(true), kMOXLogLevelInfo, "unknown lifetime: true"},
      {null(), kMOXLogLevelInfo, "unknown lifetime: <null>"},
      {str("0"), kMOXLogLevelWarning, "non-positive lifetime: 0"},
      {str("000d"), kMOXLogLevelWarning, "non-positive lifetime: 000d"},
      {i64(0), kMOXLogLevelWarning, "non-positive lifetime: 0"},
      // Unicode digits match the pattern but are no number.
      {str("\u0665s"), kMOXLogLevelWarning, "illegal number in lifetime value: \u0665s"},
  };
  for (const auto& c : cases) {
    testing::ScopedRecordingLogger log;
    EXPECT_EQ(MOXDataLayer::parseLifetime(c.lifetime), std::nullopt) << text(c.lifetime);
    EXPECT_EQ(log->messages(c.level), std::vector<std::string>{c.message}) << text(c.lifetime);
    EXPECT_EQ(log->lines().size(), 1u) << text(c.lifetime);
  }
}

TEST(DataLayerLifetime, UpdatesWithANestedLifetimeAreFlattenedAndSaved) {
  auto store = std::make_shared<testing::RecordingDataLayerStore>();
  auto dl = MOXDataLayer::createWithPersistentStore(store);
  dl->push(dict({{"event", str("purchase")},
                 {"a", dict({{"b", i64(1)}, {"c", dict({{"d", array({i64(1), null()})}})}})},
                 {"x.y", boolean(true)},
                 {"wen", dict({{"lifetime", str("5s")}, {"other", i64(2)}})}}));
  const auto saves = store->saves();
  ASSERT_EQ(saves.size(), 1u);
  const auto& save = saves[0];
  EXPECT_EQ(save.lifetimeInMillis, 5000);
  std::vector<std::string> entries;
  for (const auto& kv : save.keyValues) entries.push_back(kv.description());
  EXPECT_EQ(entries,
            (std::vector<std::string>{"MOXKeyValue(event, purchase)", "MOXKeyValue(a.b, 1)",
                                      "MOXKeyValue(a.c.d, (1, <null>))", "MOXKeyValue(x.y, true)",
                                      "MOXKeyValue(wen.other, 2)"}));

  // pushValue and expandKey give the nested form; a literal top-level key does not count.
  dl->pushValue(str("1m"), "wen.lifetime");
  dl->push(dict({{"wen.lifetime", str("1m")}, {"k", i64(1)}}));
  dl->push(dict({{"wen", str("1m")}}));
  ASSERT_EQ(store->saves().size(), 2u);
  EXPECT_EQ(store->saves()[1].lifetimeInMillis, 60000);
  EXPECT_TRUE(store->saves()[1].keyValues.empty());

  // A refused lifetime never fails the push: merged and announced, only not saved.
  testing::ScopedRecordingLogger log;
  int announced = 0;
  dl->registerListener(testing::FunctionListener::make([&](const auto&) { ++announced; }));
  dl->push(dict({{"late", i64(1)}, {"wen", dict({{"lifetime", str("0")}})}}));
  EXPECT_EQ(store->saves().size(), 2u);
  EXPECT_EQ(text(dl->get("late")), "1");
  EXPECT_EQ(announced, 1);
  EXPECT_TRUE(log->contains("non-positive lifetime: 0"));
}

TEST(DataLayerLifetime, NestedPushesSaveAtOnceAndTheOutermostAfterTheDrain) {
  auto store = std::make_shared<testing::RecordingDataLayerStore>();
  auto dl = MOXDataLayer::createWithPersistentStore(store);
  std::vector<std::string> order;
  store->onSave([&](const testing::RecordingDataLayerStore::Save& save) {
    const std::string key = save.keyValues.at(0).key();
    order.push_back(key + (dl->get(key) ? " merged" : " unmerged"));
  });
  dl->registerListener(testing::FunctionListener::make([&](const auto& update) {
    if (update->objectForKey(std::string_view("outer"))) {
      dl->push(dict({{"inner", i64(1)}, {"wen", dict({{"lifetime", str("1s")}})}}));
    }
  }));
  dl->push(dict({{"outer", i64(1)}, {"wen", dict({{"lifetime", str("2s")}})}}));
  EXPECT_EQ(order, (std::vector<std::string>{"inner unmerged", "outer merged"}));
}

TEST(DataLayerLifetime, KeyValuesCompareByContent) {
  const MOXKeyValue a("a.b", i64(1));
  EXPECT_EQ(a, MOXKeyValue("a.b", dbl(1.0)));
  EXPECT_FALSE(a == MOXKeyValue("a.b", str("1")));
  EXPECT_FALSE(a == MOXKeyValue("a.c", i64(1)));
  EXPECT_EQ(a.hash(), MOXKeyValue("a.b", i64(1)).hash());
  EXPECT_EQ(a.hash(), 31 * std::uint64_t(String::hashText("a.b")) + 7 * i64(1)->hash());
  EXPECT_EQ(MOXKeyValue("k", nullptr).description(), "MOXKeyValue(k, nil)");
}

}  // namespace
}  // namespace loomset
