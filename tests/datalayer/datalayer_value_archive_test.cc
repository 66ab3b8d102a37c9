// The data-layer store's value archive: every kind of the value model comes back exactly (kind,
// number storage type, order, shared instances), objects outside the model are refused, and bytes
// that were not written by the archive do not decode.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "datalayer/ValueArchive.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/Objects.h"
#include "loomset/proto/datalayer_value.pb.h"

namespace loomset {
namespace {

using namespace obj;
using datalayer::archiveValue;
using datalayer::unarchiveValue;

// Equal and of the same kind all the way down: a number must keep its storage type, which
// isEqual (numeric comparison) would not notice.
::testing::AssertionResult same(const ObjectPtr& a, const ObjectPtr& b) {
  if (!a || !b) return ::testing::AssertionFailure() << "missing object";
  if (a->kind() != b->kind() || a->className() != b->className()) {
    return ::testing::AssertionFailure() << a->className() << " vs " << b->className();
  }
  if (const Number* n = asNumber(a)) {
    const Number* m = asNumber(b);
    const bool bothNaN = std::isnan(n->doubleValue()) && std::isnan(m->doubleValue());
    if (n->numberType() != m->numberType() ||
        (!bothNaN &&
         (!n->isEqual(*m) || std::signbit(n->doubleValue()) != std::signbit(m->doubleValue())))) {
      return ::testing::AssertionFailure() << describe(a) << " vs " << describe(b);
    }
    return ::testing::AssertionSuccess();
  }
  if (const Array* list = asArray(a)) {
    const Array* other = asArray(b);
    if (list->count() != other->count()) return ::testing::AssertionFailure() << "list length";
    for (std::size_t i = 0; i < list->count(); ++i) {
      auto r = same(list->objectAtIndex(i), other->objectAtIndex(i));
      if (!r) return r;
    }
    return ::testing::AssertionSuccess();
  }
  if (const Dictionary* map = asDictionary(a)) {
    const Dictionary* other = asDictionary(b);
    if (map->count() != other->count()) return ::testing::AssertionFailure() << "map size";
    for (std::size_t i = 0; i < map->count(); ++i) {
      auto key = same(map->entries()[i].first, other->entries()[i].first);
      if (!key) return key;
      auto value = same(map->entries()[i].second, other->entries()[i].second);
      if (!value) return value;
    }
    return ::testing::AssertionSuccess();
  }
  if (a->isEqual(*b)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << describe(a) << " vs " << describe(b);
}

ObjectPtr roundTrip(const ObjectPtr& value) {
  const auto bytes = archiveValue(value);
  if (!bytes) return nullptr;
  return unarchiveValue(*bytes);
}

TEST(DataLayerValueArchive, EveryKindComesBackExactly) {
  auto keyed = Dictionary::create();
  keyed->setObject(str("second"), str("z"));
  keyed->setObject(str("number key"), i64(7));
  keyed->setObject(str("boolean key"), boolean(true));
  keyed->setObject(str("first"), str("a"));
  const std::vector<ObjectPtr> values = {
      str(""),
      str("h\xc3\xa9llo"),
      str(std::string("nul\0inside \xff\xfe not utf-8", 24)),
      i64(0),
      i64(std::numeric_limits<std::int64_t>::min()),
      i64(std::numeric_limits<std::int64_t>::max()),
      Number::int32(-5),
      std::make_shared<Number>(NumberType::Char, 'a'),
      std::make_shared<Number>(NumberType::Short, -300),
      std::make_shared<Number>(NumberType::Long, 1234567890123),
      Number::platformBool(true),
      Number::uint64(std::numeric_limits<std::uint64_t>::max()),
      dbl(0.1),
      dbl(-0.0),
      dbl(1e308),
      dbl(-std::numeric_limits<double>::infinity()),
      dbl(std::numeric_limits<double>::quiet_NaN()),
      Number::float32(1.5f),
      boolean(true),
      boolean(false),
      Array::create(),
      Dictionary::create(),
      array({dict({{"a", i64(1)}, {"b", array({dbl(2.5), null()})}}), dict({{"c", str("x")}})}),
      keyed,
  };
  for (const ObjectPtr& value : values) {
    EXPECT_TRUE(same(roundTrip(value), value)) << describe(value);
  }
}

TEST(DataLayerValueArchive, IntegersAndFloatingNumbersStayApart) {
  const ObjectPtr integer = roundTrip(i64(1));
  const ObjectPtr floating = roundTrip(dbl(1.0));
  ASSERT_TRUE(integer && floating);
  EXPECT_TRUE(asNumber(integer)->isIntegerKind());
  EXPECT_FALSE(asNumber(integer)->isFloatingKind());
  EXPECT_TRUE(asNumber(floating)->isFloatingKind());
  EXPECT_NE(*archiveValue(i64(1)), *archiveValue(dbl(1.0)));
  // A MOXBoolean is not the number 1, nor the platform's boolean number.
  EXPECT_EQ(roundTrip(boolean(true))->kind(), ObjectKind::Boolean);
  EXPECT_EQ(asNumber(roundTrip(Number::platformBool(true)))->numberType(), NumberType::Bool);
}

TEST(DataLayerValueArchive, MarkersComeBackAsTheSharedInstances) {
  EXPECT_EQ(roundTrip(null()), Null::null());
  const auto list = roundTrip(array({kMOXDataLayerObjectNotPresent(), i64(5)}));
  ASSERT_TRUE(list);
  EXPECT_EQ(asArray(list)->objectAtIndex(0), kMOXDataLayerObjectNotPresent());
}

TEST(DataLayerValueArchive, NestingAsDeepAsTheDataLayerKeepsComesBack) {
  auto deepest = [](int levels) {
    ObjectPtr value = str("bottom");
    for (int i = 0; i < levels; ++i) {
      value = i % 2 ? ObjectPtr(array({value})) : ObjectPtr(dict({{"k", value}}));
    }
    return value;
  };
  const ObjectPtr deep = deepest(MOXDataLayer::kMaxNestingDepth);
  EXPECT_TRUE(same(roundTrip(deep), deep));
  std::string reason;
  EXPECT_FALSE(archiveValue(deepest(MOXDataLayer::kMaxNestingDepth + 1), &reason));
  EXPECT_NE(reason.find("nested deeper"), std::string::npos) << reason;
}

TEST(DataLayerValueArchive, ObjectsOutsideTheValueModelAreRefused) {
  auto cycle = Array::create();
  cycle->addObject(cycle);
  struct Case {
    ObjectPtr value;
    std::string reason;
  } cases[] = {
      {std::make_shared<Data>(std::vector<std::uint8_t>{1, 2}), "NSData"},
      {std::make_shared<Date>(1.0), "NSDate"},
      {std::make_shared<Marker>("other"), "NSObject"},
      {array({str("ok"), std::make_shared<Date>(2.0)}), "NSDate"},
      {dict({{"inner", std::make_shared<Data>(std::vector<std::uint8_t>{})}}), "NSData"},
      {cycle, "nested deeper"},
  };
  for (const auto& c : cases) {
    std::string reason;
    EXPECT_FALSE(archiveValue(c.value, &reason)) << describe(c.value);
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
  }
  cycle->replaceObjectAtIndex(0, str("cut"));  // lets the cycle be freed
}

TEST(DataLayerValueArchive, BytesNotWrittenByTheArchiveDoNotDecode) {
  const std::string valid = *archiveValue(array({str("abc"), i64(1)}));
  MOXPDataLayerValue entryWithoutValue;
  entryWithoutValue.mutable_map_value()->add_entry()->mutable_key()->set_string_value("k");
  MOXPDataLayerValue integerCalledFloating;
  integerCalledFloating.set_integer_value(3);
  integerCalledFloating.set_number_type(MOXPDataLayerValue::Double);
  const std::vector<std::string> damaged = {
      "",
      std::string("\xff\xff\xff", 3),
      valid.substr(0, valid.size() - 1),
      valid + std::string("\x0a", 1),
      entryWithoutValue.SerializeAsString(),
      integerCalledFloating.SerializeAsString(),
  };
  for (const std::string& bytes : damaged) EXPECT_EQ(unarchiveValue(bytes), nullptr);
}

}  // namespace
}  // namespace loomset
