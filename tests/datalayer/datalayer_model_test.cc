#include <gtest/gtest.h>

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

TEST(DataLayerModel, KeyPathsExpandOnlyAtTopLevelAndReadThroughMapsOnly) {
  auto dl = MOXDataLayer::create();
  dl->push(dict({{"a.b.c", i64(1)}}));
  EXPECT_EQ(text(dl->get("a.b")), "{c = 1}");
  EXPECT_EQ(text(dl->get("a.b.c")), "1");
  EXPECT_EQ(dl->get("a.x"), nullptr);
  EXPECT_EQ(dl->get("a.b.c.d"), nullptr);  // through a scalar

  // A scalar is replaced by a map and the other way round.
  dl->push(dict({{"s", i64(1)}}));
  dl->push(dict({{"s.b", i64(2)}}));
  EXPECT_EQ(text(dl->get("s")), "{b = 2}");
  dl->push(dict({{"s", str("flat")}}));
  EXPECT_EQ(text(dl->get("s")), "flat");

  // Keys inside nested maps are literal, dots included.
  dl->push(dict({{"n", dict({{"b.c", i64(3)}})}}));
  EXPECT_EQ(dl->get("n.b.c"), nullptr);
  EXPECT_EQ(text(dl->get("n")), "{b.c = 3}");

  // Empty components are keys too.
  dl->push(dict({{"e..f", i64(4)}, {"", i64(5)}}));
  EXPECT_EQ(text(dl->get("e..f")), "4");
  EXPECT_EQ(text(dl->get("e.")), "{f = 4}");
  EXPECT_EQ(text(dl->get("")), "5");

  // Lists are never indexed.
  dl->push(dict({{"l", array({dict({{"x", i64(1)}})})}}));
  EXPECT_EQ(dl->get("l.0"), nullptr);
  EXPECT_EQ(dl->get("l.0.x"), nullptr);

  // Maps merge key by key.
  dl->push(dict({{"a", dict({{"b", dict({{"d", i64(2)}})}})}}));
  EXPECT_EQ(text(dl->get("a.b")), "{c = 1, d = 2}");
}

TEST(DataLayerModel, NullObjectEndsAPathAndClearReplacesTheSubtree) {
  auto store = std::make_shared<testing::RecordingDataLayerStore>();
  auto dl = MOXDataLayer::createWithPersistentStore(store);
  auto seen = std::make_shared<testing::KeyRecorder>();
  dl->registerListener(seen);
  dl->push(dict({{"a", dict({{"b", dict({{"c", i64(1)}})}})}, {"keep", i64(1)}}));

  dl->clearPersistentKeysWithPrefix("a");
  EXPECT_TRUE(isNull(dl->get("a")));
  EXPECT_TRUE(isNull(dl->get("a.b")));
  EXPECT_TRUE(isNull(dl->get("a.b.c.d")));
  EXPECT_EQ(text(dl->get("keep")), "1");
  EXPECT_EQ(store->clears(), std::vector<std::string>{"a"});
  EXPECT_EQ(seen->keys(), (std::vector<std::string>{"a", "a"}));

  // A prefix is a key path: only the named subtree goes.
  dl->push(dict({{"x", dict({{"y", i64(1)}, {"z", i64(2)}})}}));
  dl->clearPersistentKeysWithPrefix("x.y");
  EXPECT_TRUE(isNull(dl->get("x.y")));
  EXPECT_EQ(text(dl->get("x.z")), "2");
}

TEST(DataLayerModel, ListsMergePositionByPositionAndTheMarkerKeepsAnItem) {
  auto dl = MOXDataLayer::create();
  const ObjectPtr& keep = kMOXDataLayerObjectNotPresent();

  dl->push(dict({{"l", array({i64(1), i64(2), i64(3)})}}));
  dl->push(dict({{"l", array({i64(9)})}}));
  EXPECT_EQ(text(dl->get("l")), "(9, 2, 3)");  // never shortened

  dl->push(dict({{"l", array({keep, i64(5)})}}));
  EXPECT_EQ(text(dl->get("l")), "(9, 5, 3)");

  dl->push(dict({{"fresh", array({keep, i64(5)})}}));
  EXPECT_EQ(text(dl->get("fresh")), "(<null>, 5)");

  // Maps and lists inside lists merge in place; a scalar replaces them.
  dl->push(dict({{"m", array({dict({{"a", i64(1)}}), array({i64(1), i64(2)}), i64(7)})}}));
  dl->push(
      dict({{"m", array({dict({{"b", i64(2)}}), array({keep, i64(3)}), dict({{"c", i64(3)}})})}}));
  EXPECT_EQ(text(dl->get("m")), "({a = 1, b = 2}, (1, 3), {c = 3})");
  dl->push(dict({{"m", array({i64(0)})}}));
  EXPECT_EQ(text(dl->get("m")), "(0, (1, 3), {c = 3})");

  // A list replaces a scalar or a map, and the marker outside a list is an ordinary value.
  dl->push(dict({{"s", i64(1)}}));
  dl->push(dict({{"s", array({keep, i64(2)})}}));
  EXPECT_EQ(text(dl->get("s")), "(<null>, 2)");
  dl->push(dict({{"plain", keep}}));
  EXPECT_EQ(dl->get("plain"), keep);

  // Only the marker itself counts, not a look-alike.
  auto lookAlike = std::make_shared<Marker>("MOXDataLayerObjectNotPresent");
  dl->push(dict({{"l", array({lookAlike})}}));
  const ObjectPtr list = dl->get("l");
  ASSERT_NE(asArray(list), nullptr);
  EXPECT_EQ(asArray(list)->objectAtIndex(0), lookAlike);
}

TEST(DataLayerModel, NotPresentMarkerIsCreatedOnce) {
  const ObjectPtr& first = kMOXDataLayerObjectNotPresent();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first.get(), kMOXDataLayerObjectNotPresent().get());
  EXPECT_FALSE(first->isEqual(Marker("MOXDataLayerObjectNotPresent")));
}

TEST(DataLayerModel, ReadersKeepAStableSnapshotAndPushedCollectionsAreNotKept) {
  auto dl = MOXDataLayer::create();
  auto pushedList = array({i64(1)});
  auto pushedMap = dict({{"b", i64(1)}});
  auto scalar = str("same");
  dl->push(dict({{"a", pushedMap}, {"l", pushedList}, {"s", scalar}}));

  const ObjectPtr before = dl->get("a");
  EXPECT_EQ(dl->get("a"), before);  // the stored object itself while nothing changes it
  EXPECT_EQ(dl->get("s"), scalar);  // scalars are stored as pushed
  EXPECT_NE(before.get(), pushedMap.get());

  // The application changing what it pushed does not reach the model.
  pushedMap->setObject(i64(99), "b");
  pushedList->addObject(i64(2));
  EXPECT_EQ(text(dl->get("a")), "{b = 1}");
  EXPECT_EQ(text(dl->get("l")), "(1)");

  // A later merge stores a changed copy; what was handed out stays as it was.
  dl->push(dict({{"a.c", i64(2)}}));
  EXPECT_EQ(text(before), "{b = 1}");
  EXPECT_EQ(text(dl->get("a")), "{b = 1, c = 2}");
}

TEST(DataLayerModel, ExpandKeyBuildsNewMapsAroundTheValueItself) {
  auto value = dict({{"x", i64(1)}});
  auto expanded = MOXDataLayer::expandKey("a..b", value);
  EXPECT_EQ(text(expanded), "{a = { = {b = {x = 1}}}}");
  const auto* a = asDictionary(expanded->objectForKey(std::string_view("a")));
  const auto* empty = asDictionary(a->objectForKey(std::string_view("")));
  EXPECT_EQ(empty->objectForKey(std::string_view("b")), value);
  EXPECT_EQ(text(MOXDataLayer::expandKey("k", i64(1))), "{k = 1}");

  // pushValue goes through the same expansion; a nil value is refused.
  testing::ScopedRecordingLogger log;
  auto dl = MOXDataLayer::create();
  dl->pushValue(i64(3), "p.q");
  EXPECT_EQ(text(dl->get("p")), "{q = 3}");
  dl->pushValue(nullptr, "p.q");
  EXPECT_EQ(text(dl->get("p.q")), "3");
  EXPECT_TRUE(log->contains("nil value"));
}

// Builds a chain of `depth` maps under "k" and frees it level by level, so that neither building
// nor freeing recurses.
struct DeepChain {
  explicit DeepChain(int depth) {
    levels.push_back(Dictionary::create());
    for (int i = 1; i < depth; ++i) {
      auto next = Dictionary::create();
      levels.back()->setObject(next, "k");
      levels.push_back(next);
    }
    levels.back()->setObject(i64(1), "k");
  }
  ~DeepChain() {
    for (auto& level : levels) level.reset();
  }
  std::vector<std::shared_ptr<Dictionary>> levels;
};

TEST(DataLayerModel, DeepOrCyclicNestingIsRefusedWithoutCrashing) {
  testing::ScopedRecordingLogger log;
  auto store = std::make_shared<testing::RecordingDataLayerStore>();
  auto dl = MOXDataLayer::createWithPersistentStore(store);
  int notified = 0;
  dl->registerListener(testing::FunctionListener::make([&](const auto&) { ++notified; }));

  {
    DeepChain deep(100000);
    dl->push(dict(
        {{"deep", deep.levels.front()}, {"ok", i64(1)}, {"wen", dict({{"lifetime", str("1h")}})}}));
  }
  EXPECT_EQ(dl->get("deep"), nullptr);
  EXPECT_EQ(text(dl->get("ok")), "1");
  EXPECT_EQ(notified, 1);
  EXPECT_TRUE(log->contains("nested deeper than"));
  ASSERT_EQ(store->saves().size(), 1u);
  EXPECT_EQ(store->saves()[0].keyValues.size(), 1u);  // only "ok"

  // A map that holds itself.
  auto cyclic = Dictionary::create();
  cyclic->setObject(cyclic, "self");
  dl->push(dict({{"cycle", cyclic}}));
  cyclic->removeAllObjects();
  EXPECT_EQ(dl->get("cycle"), nullptr);

  // Key paths with too many components.
  std::string longPath = "a";
  for (int i = 0; i < 100000; ++i) longPath += ".a";
  dl->pushValue(i64(1), longPath);
  dl->push(dict({{longPath, i64(1)}}));
  EXPECT_EQ(dl->get("a"), nullptr);
  EXPECT_EQ(dl->get(longPath), nullptr);

  // Nesting within the limit is merged and readable to the bottom.
  const int depth = MOXDataLayer::kMaxNestingDepth;
  DeepChain fits(depth - 1);
  dl->push(dict({{"fits", fits.levels.front()}}));
  std::string path = "fits";
  for (int i = 0; i < depth - 1; ++i) path += ".k";
  EXPECT_EQ(text(dl->get(path)), "1");
}

}  // namespace
}  // namespace loomset
