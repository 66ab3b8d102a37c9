// Hit maps from the dictionary builder: hit types, null markers, commerce naming, impression
// lists, campaign URLs.
#include <gtest/gtest.h>

#include "analytics/PLULog.h"
#include "loomset/Collections.h"
#include "loomset/PLUDictionaryBuilder.h"
#include "loomset/PLUFields.h"
#include "loomset/Scalars.h"
#include "support/PLURecording.h"

namespace loomset {
namespace {

using testing::PLURecordingLogger;

class PLUBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override { plu_log::setSharedLogger(log_); }
  void TearDown() override { plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>()); }
  std::shared_ptr<PLURecordingLogger> log_ = std::make_shared<PLURecordingLogger>();
};

TEST_F(PLUBuilderTest, CreateMethodsSetTypeAndFields) {
  EXPECT_EQ(PLUDictionaryBuilder::createAppView().build(), (PLUHitMap{{"&t", "screenview"}}));
  EXPECT_EQ(PLUDictionaryBuilder::createScreenView().build(), (PLUHitMap{{"&t", "screenview"}}));

  // Nil label and value are null markers: they mask tracker fields for this hit.
  EXPECT_EQ(
      PLUDictionaryBuilder::createEventWithCategory("c", "a", std::nullopt, std::nullopt).build(),
      (PLUHitMap{{"&t", "event"},
                 {"&ec", "c"},
                 {"&ea", "a"},
                 {"&el", kPLUNullMarker},
                 {"&ev", kPLUNullMarker}}));
  EXPECT_EQ(PLUDictionaryBuilder::createEventWithCategory("c", "a", "l", 42).build().at("&ev"),
            "42");
  EXPECT_EQ(PLUDictionaryBuilder::createExceptionWithDescription("boom", true).build(),
            (PLUHitMap{{"&t", "exception"}, {"&exd", "boom"}, {"&exf", "1"}}));
  EXPECT_EQ(
      PLUDictionaryBuilder::createTimingWithCategory("cat", 1.5, "load", std::nullopt).build(),
      (PLUHitMap{{"&t", "timing"},
                 {"&utc", "cat"},
                 {"&utv", "load"},
                 {"&utt", "1.5"},
                 {"&utl", kPLUNullMarker}}));
  EXPECT_EQ(PLUDictionaryBuilder::createSocialWithNetwork("net", "like", "t").build(),
            (PLUHitMap{{"&t", "social"}, {"&sn", "net"}, {"&sa", "like"}, {"&st", "t"}}));
  EXPECT_EQ(
      PLUDictionaryBuilder::createTransactionWithId("T1", "shop", 10.25, 2, std::nullopt, "EUR")
          .build(),
      (PLUHitMap{{"&t", "transaction"},
                 {"&ti", "T1"},
                 {"&ta", "shop"},
                 {"&tr", "10.25"},
                 {"&tt", "2"},
                 {"&ts", kPLUNullMarker},
                 {"&cu", "EUR"}}));
  EXPECT_EQ(PLUDictionaryBuilder::createItemWithTransactionId("T1", "hat", "H-1", "wear", 5,
                                                              PLUNumber(Number::int64(3)), "EUR")
                .build(),
            (PLUHitMap{{"&t", "item"},
                       {"&ti", "T1"},
                       {"&in", "hat"},
                       {"&ic", "H-1"},
                       {"&iv", "wear"},
                       {"&ip", "5"},
                       {"&iq", "3"},
                       {"&cu", "EUR"}}));
}

TEST_F(PLUBuilderTest, SetGetAndSetAll) {
  PLUDictionaryBuilder builder;
  builder.set("x", "&cd").set(std::nullopt, "&dt").setAll({{"&ul", "fr"}, {"&cd", "y"}});
  EXPECT_EQ(builder.get("&cd"), "y");
  EXPECT_EQ(builder.get("&dt"), std::nullopt);  // the null marker reads as nil
  EXPECT_EQ(builder.get("&nope"), std::nullopt);
  EXPECT_EQ(builder.build().count("&dt"), 1u);

  // From the object model: strings and NSNull pass, anything else is reported and skipped.
  Dictionary fields;
  fields.setObject(String::create("v1"), "&k1");
  fields.setObject(Null::null(), "&k2");
  fields.setObject(Number::int64(5), "&k3");
  fields.setObject(String::create("v4"), Number::int64(4));
  builder.setAll(fields);
  const PLUHitMap hit = builder.build();
  EXPECT_EQ(hit.at("&k1"), "v1");
  EXPECT_EQ(hit.at("&k2"), kPLUNullMarker);
  EXPECT_EQ(hit.count("&k3"), 0u);
  EXPECT_TRUE(log_->contains("Unexpected value type: NSNumber"));
  EXPECT_TRUE(log_->contains("Unexpected key type: NSNumber"));
}

TEST_F(PLUBuilderTest, IndexedNames) {
  EXPECT_EQ(PLUEcommerceFields::productFieldForIndex(2, "nm"), "&pr2nm");
  EXPECT_EQ(PLUEcommerceFields::productFieldForIndex(2, "&nm"), "&pr2nm");
  EXPECT_EQ(PLUEcommerceFields::productFieldForIndex(12, std::nullopt), "&pr12");
  EXPECT_EQ(PLUEcommerceFields::productImpressionForList("&il1", 3, "&id"), "&il1pi3id");
  EXPECT_EQ(PLUEcommerceFields::promotionForIndex(1, "cr"), "&promo1cr");
  EXPECT_EQ(PLUEcommerceFields::stripAmpersandIfPresent("&&x"), "&x");
  EXPECT_EQ(PLUFields::contentGroupForIndex(2), "&cg2");
  EXPECT_EQ(PLUFields::customDimensionForIndex(7), "&cd7");
  EXPECT_EQ(PLUFields::customMetricForIndex(4), "&cm4");
}

TEST_F(PLUBuilderTest, ProductsActionAndPromotions) {
  PLUEcommerceProduct first;
  first.setId("P1")
      .setName("shoe")
      .setPrice(19.99)
      .setQuantity(2)
      .setCustomDimension(3, "red")
      .setCustomMetric(2, 7)
      .setPosition(std::nullopt);
  PLUEcommerceProduct second;
  second.setId("P2").setBrand("acme");
  PLUEcommercePromotion promotion;
  promotion.setId("PR").setCreative("banner").setPosition("top");
  PLUEcommerceProductAction action;
  action.setAction(kPLUPAPurchase)
      .setTransactionId("T9")
      .setRevenue(30)
      .setCheckoutStep(PLUNumber(String::create("not a number")));

  const PLUHitMap hit = PLUDictionaryBuilder::createScreenView()
                            .addProduct(first)
                            .addProduct(second)
                            .addPromotion(promotion)
                            .setProductAction(action)
                            .build();
  const PLUHitMap expected{
      {"&t", "screenview"},    {"&pa", "purchase"},      {"&ti", "T9"},
      {"&tr", "30"},           {"&cos", kPLUNullMarker}, {"&pr1id", "P1"},
      {"&pr1nm", "shoe"},      {"&pr1pr", "19.99"},      {"&pr1qt", "2"},
      {"&pr1cd3", "red"},      {"&pr1cm2", "7"},         {"&pr1ps", kPLUNullMarker},
      {"&pr2id", "P2"},        {"&pr2br", "acme"},       {"&promo1id", "PR"},
      {"&promo1cr", "banner"}, {"&promo1ps", "top"},
  };
  EXPECT_EQ(hit, expected);
}

TEST_F(PLUBuilderTest, ImpressionListsInOrderOfFirstUse) {
  PLUEcommerceProduct a, b, c;
  a.setId("a");
  b.setId("b");
  c.setId("c").setPrice(1);
  PLUDictionaryBuilder builder;
  builder.addProductImpression(a, "A", "s1")
      .addProductImpression(b, "B", "")
      .addProductImpression(c, "A", "s2");  // the first source of a list stays
  const PLUHitMap hit = builder.build();
  const PLUHitMap expected{
      {"&il1nm", "A"},    {"&il1ls", "s1"}, {"&il1pi1id", "a"}, {"&il1pi2id", "c"},
      {"&il1pi2pr", "1"}, {"&il2nm", "B"},  {"&il2pi1id", "b"},
  };
  EXPECT_EQ(hit, expected);

  PLUDictionaryBuilder unnamed;
  unnamed.addProductImpression(a, std::nullopt, std::nullopt);
  EXPECT_EQ(unnamed.build(), (PLUHitMap{{"&il1nm", ""}, {"&il1pi1id", "a"}}));
}

TEST_F(PLUBuilderTest, CampaignParametersFromUrl) {
  const PLUHitMap hit =
      PLUDictionaryBuilder()
          .setCampaignParametersFromUrl("https://x.test/p?utm_source=news&utm_medium=mail&x=1")
          .build();
  EXPECT_EQ(hit.at("&cs"), "news");
  EXPECT_EQ(hit.at("&cm"), "mail");
  for (const char* cleared :
       {"&cn", "&ck", "&cc", "&ci", "&aclid", "&anid", "&oclid", "&rclid", "&zmob_t"}) {
    EXPECT_EQ(hit.at(cleared), kPLUNullMarker) << cleared;
  }
  EXPECT_EQ(hit.size(), 11u);

  // A bare query, "+" as a blank, UTF-8 escapes, a key without "=" and a later duplicate.
  const PLUHitMap bare = PLUDictionaryBuilder()
                             .setCampaignParametersFromUrl(
                                 "utm_source=a+b&utm_term=caf%C3%A9%2B&utm_id&utm_medium=1&"
                                 "utm_medium=2&oclid=x%3Dy")
                             .build();
  EXPECT_EQ(bare.at("&cs"), "a b");
  EXPECT_EQ(bare.at("&ck"), "caf\xC3\xA9+");
  EXPECT_EQ(bare.at("&ci"), "");
  EXPECT_EQ(bare.at("&cm"), "2");
  EXPECT_EQ(bare.at("&oclid"), "x=y");

  // A URL ending in "?" is read as a query in full; a broken escape is skipped and reported.
  const PLUHitMap odd =
      PLUDictionaryBuilder().setCampaignParametersFromUrl("utm_source=%zz&utm_medium=m?").build();
  EXPECT_EQ(odd.at("&cs"), kPLUNullMarker);
  EXPECT_EQ(odd.at("&cm"), "m?");
  EXPECT_TRUE(log_->contains("utm_source=%zz"));
}

}  // namespace
}  // namespace loomset
