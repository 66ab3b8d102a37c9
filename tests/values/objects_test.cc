#include <gtest/gtest.h>

#include "loomset/MOXPValue.h"
#include "loomset/Objects.h"

namespace loomset {
namespace {

using namespace obj;

TEST(Objects, NumbersKeepTheirKindAndCompareAcrossKinds) {
  EXPECT_TRUE(Number::int64(3)->isIntegerKind());
  EXPECT_TRUE(Number::platformBool(true)->isIntegerKind());
  EXPECT_TRUE(Number::float64(1.5)->isFloatingKind());
  const auto u = Number::uint64(5);
  EXPECT_FALSE(u->isIntegerKind());
  EXPECT_FALSE(u->isFloatingKind());
  EXPECT_TRUE(Number::int64(1)->isEqual(*Number::float64(1.0)));
  EXPECT_EQ(Number::int64(1)->hash(), Number::float64(1.0)->hash());
  EXPECT_EQ(Number::float64(1.5)->stringValue(), "1.5");
  EXPECT_EQ(Number::float64(3.0)->stringValue(), "3");
  EXPECT_EQ(Number::float32(0.1f)->stringValue(), "0.1");
  EXPECT_EQ(Number::float64(1e300)->longLongValue(), INT64_MAX);
  EXPECT_EQ(Number::uint64(UINT64_MAX)->compare(*Number::int64(-1)), 1);
}

TEST(Objects, DistinctZerosAreEqualButNotIdentical) {
  auto a = MOXDistinctZero::distinctZero();
  auto b = MOXDistinctZero::distinctZero();
  EXPECT_NE(a.get(), b.get());
  EXPECT_TRUE(a->isEqual(*b));
  EXPECT_TRUE(a->isEqual(*Number::int64(0)));
  EXPECT_TRUE(a->isIntegerKind());
  EXPECT_EQ(a->stringValue(), "0");
}

TEST(Objects, BooleansAreNotNumbers) {
  EXPECT_EQ(MOXBoolean::yes()->description(), "true");
  EXPECT_EQ(MOXBoolean::yes()->hash(), 123u);
  EXPECT_EQ(MOXBoolean::no()->hash(), 838u);
  EXPECT_FALSE(MOXBoolean::yes()->isEqual(*Number::int64(1)));
  EXPECT_FALSE(Number::int64(1)->isEqual(*MOXBoolean::yes()));
  EXPECT_NE(MOXBoolean::booleanWithBool(true).get(), MOXBoolean::yes().get());
  EXPECT_TRUE(MOXBoolean::booleanWithString("TrUe")->boolValue());
  EXPECT_FALSE(MOXBoolean::booleanWithString("FALSE")->boolValue());
  EXPECT_EQ(MOXBoolean::booleanWithString(" true"), nullptr);
  EXPECT_EQ(MOXBoolean::booleanWithString("yes"), nullptr);
  EXPECT_EQ(MOXBoolean::booleanWithString("truex"), nullptr);
}

TEST(Objects, DictionaryKeepsInsertionOrderAcrossIndexThreshold) {
  auto d = Dictionary::create();
  for (int i = 0; i < 20; ++i) d->setObject(i64(i), "k" + std::to_string(i));
  d->setObject(str("again"), "k3");
  ASSERT_EQ(d->count(), 20u);
  EXPECT_EQ(asString(d->entries()[3].second)->text(), "again");
  EXPECT_EQ(asNumber(d->objectForKey("k17"))->longLongValue(), 17);
  EXPECT_EQ(d->objectForKey("missing"), nullptr);
  d->removeObjectForKey(str("k0"));
  EXPECT_EQ(d->count(), 19u);
  EXPECT_EQ(asNumber(d->objectForKey("k19"))->longLongValue(), 19);
  // Number keys equal across kinds find each other.
  d->setObject(str("one"), Number::int64(1));
  EXPECT_EQ(asString(d->objectForKey(Number::float64(1.0)))->text(), "one");
  d->setObject(nullptr, "k1");  // ignored
  EXPECT_EQ(asNumber(d->objectForKey("k1"))->longLongValue(), 1);
}

TEST(Objects, ValueHashFollowsEquality) {
  MOXPValue a;
  a.set_type(MOXPValue::String);
  a.set_string("x");
  MOXPValue b = a;
  EXPECT_TRUE(valueEquals(a, b));
  EXPECT_EQ(valueHash(a), valueHash(b));
  b.set_contains_references(true);
  EXPECT_FALSE(valueEquals(a, b));
  EXPECT_EQ(valueHash(b), valueHash(a) + 1);
  MOXPValue i;
  i.set_type(MOXPValue::Integer);
  i.set_integer(5);
  EXPECT_EQ(valueHash(i), 31u * (31u + 5u));
  MOXPValue other;
  other.set_type(MOXPValue::TagReference);
  EXPECT_EQ(valueHash(other), 31u);
}

}  // namespace
}  // namespace loomset

namespace loomset {
namespace {

TEST(Objects, DescriptionOfSelfContainingCollectionIsCutOff) {
  auto a = Array::create();
  auto d = Dictionary::create();
  a->addObject(d);
  d->setObject(a, "loop");
  const std::string text = a->description();
  EXPECT_NE(text.find("..."), std::string::npos);
  a->replaceObjectAtIndex(0, obj::str("x"));  // break the cycle so both are freed
}

}  // namespace
}  // namespace loomset
