// The analytics tag against a facade that records the hits its trackers hand on: pass-through
// fields, transactions with their items, commerce hits, and every failure of the tag.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "loomset/Exceptions.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "support/PLURecording.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"
#include "tags/MOXQuorra.h"

namespace loomset {
namespace {

using namespace testing;
using namespace obj;

std::string field(const PLUHitMap& hit, const std::string& key) {
  const auto it = hit.find(key);
  if (it == hit.end()) return "(absent)";
  return it->second.value_or("(null)");
}

ValuePtr stringMap(std::initializer_list<std::pair<const char*, const char*>> entries) {
  MOXPValue map;
  map.set_type(MOXPValue::Map);
  for (const auto& [key, value] : entries) {
    *map.add_map_key() = *strValue(key);
    *map.add_map_value() = *strValue(value);
  }
  return std::make_shared<MOXPValue>(map);
}

class QuorraTest : public ::testing::Test {
 protected:
  QuorraTest() : dataLayer_(MOXDataLayer::create()), tag_(dataLayer_) {}

  void fire(std::vector<std::pair<std::string, ValuePtr>> arguments) {
    MOXParameterMap map;
    map.append("function", fnValue("_qr"));
    for (auto& [key, value] : arguments) map.append(key, value);
    tag_.evaluate(map);
  }
  std::vector<PLUHitMap> hits() const { return facade_.dispatcher().hits(); }

  PLUTestFacade facade_;
  ScopedRecordingLogger log_;
  std::shared_ptr<MOXDataLayer> dataLayer_;
  MOXQuorra tag_;
};

TEST_F(QuorraTest, PassesFieldsThroughAndDropsAnAipThatTurnsAnonymizingOff) {
  fire({{"analytics_pass_through", boolValue(true)},
        {"analytics_fields",
         stringMap({{"&t", "screenview"}, {"&cd", "Home"}, {"&aip", "False"}})}});
  fire({{"analytics_pass_through", boolValue(true)},
        {"analytics_fields", stringMap({{"&t", "event"}, {"&aip", "1"}})}});
  const auto sent = hits();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(field(sent[0], "&t"), "screenview");
  EXPECT_EQ(field(sent[0], "&cd"), "Home");
  EXPECT_EQ(field(sent[0], "&aip"), "(absent)");
  EXPECT_EQ(field(sent[0], "&tid"), MOXQuorra::kTrackerId);
  EXPECT_EQ(field(sent[1], "&aip"), "1");
}

TEST_F(QuorraTest, ModeFlagsMustBeBooleanValues) {
  fire({{"enable_ecommerce", strValue("true")}, {"analytics_fields", stringMap({{"&t", "x"}})}});
  EXPECT_TRUE(hits().empty());
  EXPECT_TRUE(log_->contains("Ignoring unknown tag."));
}

TEST_F(QuorraTest, SendsATransactionThenItsItemsInOrder) {
  dataLayer_->push(
      dict({{"transactionId", str("T-7")},
            {"transactionTotal", dbl(42.5)},
            {"transactionCurrency", str("EUR")},
            {"transactionProducts",
             array({dict({{"name", str("Mug")}, {"sku", str("M1")}, {"price", i64(10)}}),
                    dict({{"name", str("Tea")}, {"quantity", i64(3)}})})}}));
  fire({{"track_transaction", boolValue(true)},
        {"account", strValue("UA-9")},
        {"analytics_fields", stringMap({{"&cd", "Checkout"}})}});
  const auto sent = hits();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(field(sent[0], "&t"), "transaction");
  EXPECT_EQ(field(sent[0], "&tid"), "UA-9");
  EXPECT_EQ(field(sent[0], "&ti"), "T-7");
  EXPECT_EQ(field(sent[0], "&tr"), "42.5");
  EXPECT_EQ(field(sent[0], "&cu"), "EUR");
  EXPECT_EQ(field(sent[0], "&cd"), "Checkout");
  EXPECT_EQ(field(sent[1], "&t"), "item");
  EXPECT_EQ(field(sent[1], "&ti"), "T-7");
  EXPECT_EQ(field(sent[1], "&in"), "Mug");
  EXPECT_EQ(field(sent[1], "&ic"), "M1");
  EXPECT_EQ(field(sent[1], "&ip"), "10");
  EXPECT_EQ(field(sent[1], "&cd"), "Checkout");
  EXPECT_NE(field(sent[1], "&tid"), "UA-9");  // items do not carry the account
  EXPECT_EQ(field(sent[2], "&in"), "Tea");
  EXPECT_EQ(field(sent[2], "&iq"), "3");
}

TEST_F(QuorraTest, TheTagsOwnMapsReplaceTheDefaultOnes) {
  dataLayer_->push(
      dict({{"transactionId", str("T-8")},
            {"orderRevenue", str("99")},
            {"transactionTotal", str("1")},
            {"transactionProducts", array({dict({{"name", str("Pen")}, {"code", str("P")}})})}}));
  fire({{"track_transaction", boolValue(true)},
        {"transaction_datalayer_map", stringMap({{"orderRevenue", "&tr"}})},
        {"transaction_item_datalayer_map", stringMap({{"code", "&ic"}})}});
  const auto sent = hits();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(field(sent[0], "&tr"), "99");
  EXPECT_EQ(field(sent[0], "&ti"), "(absent)");  // only the given map is used
  EXPECT_EQ(field(sent[1], "&ic"), "P");
  EXPECT_EQ(field(sent[1], "&in"), "(absent)");
}

TEST_F(QuorraTest, ATransactionThatCannotBeSentWholeSendsNothing) {
  fire({{"track_transaction", boolValue(true)}});
  EXPECT_TRUE(log_->contains("Cannot find transactionId in data layer."));

  dataLayer_->push(dict(
      {{"transactionId", str("T-1")},
       {"transactionProducts", array({dict({{"name", str("A")}}), dict({{"sku", str("B")}})})}}));
  fire({{"track_transaction", boolValue(true)}});
  EXPECT_TRUE(log_->contains("Unable to send transaction item hit due to missing 'name' field."));

  dataLayer_->push(dict({{"transactionProducts", str("not a list")}}));
  fire({{"track_transaction", boolValue(true)}});
  EXPECT_TRUE(log_->contains(
      "Unable to send transaction: Expected dictionary entry to be of type NSArray"));
  dataLayer_->push(dict({{"transactionProducts", array({str("x")})}}));
  fire({{"track_transaction", boolValue(true)}});
  EXPECT_TRUE(log_->contains(
      "Unable to send transaction: Each element of the array should be of type NSDictionary"));
  EXPECT_TRUE(hits().empty());
}

TEST_F(QuorraTest, BuildsACommerceHitFromTheDataLayer) {
  dataLayer_->push(dict(
      {{"ecommerce",
        dict({{"currencyCode", str("USD")},
              {"impressions",
               array({dict({{"id", str("I1")}, {"list", str("Search")}, {"position", i64(1)}})})},
              {"promoView",
               dict({{"promotions", array({dict({{"id", str("PR")}, {"name", str("Sale")}})})}})},
              {"purchase",
               dict({{"actionField", dict({{"id", str("T-9")}, {"revenue", str("35.43")}})},
                     {"products", array({dict({{"id", str("P1")},
                                               {"price", str("33.75")},
                                               {"dimension3", str("Blue")},
                                               {"metric2", str("4")}})})}})}})}}));
  fire({{"enable_ecommerce", boolValue(true)}, {"ecommerce_use_data_layer", boolValue(true)}});
  const auto sent = hits();
  ASSERT_EQ(sent.size(), 1u);
  const PLUHitMap& hit = sent[0];
  EXPECT_EQ(field(hit, "&cu"), "USD");
  EXPECT_EQ(field(hit, "&il1nm"), "Search");
  EXPECT_EQ(field(hit, "&il1pi1id"), "I1");
  EXPECT_EQ(field(hit, "&promo1id"), "PR");
  EXPECT_EQ(field(hit, "&promoa"), "view");
  EXPECT_EQ(field(hit, "&pa"), "purchase");
  EXPECT_EQ(field(hit, "&ti"), "T-9");
  EXPECT_EQ(field(hit, "&tr"), "35.43");
  EXPECT_EQ(field(hit, "&pr1id"), "P1");
  EXPECT_EQ(field(hit, "&pr1pr"), "33.75");
  EXPECT_EQ(field(hit, "&pr1cd3"), "Blue");
  EXPECT_EQ(field(hit, "&pr1cm2"), "4");
}

TEST_F(QuorraTest, APromotionClickCarriesNoProductActionUnlessItsListIsEmpty) {
  auto commerce = [](ObjectPtr promotions) {
    return mapValue(
        {{strValue("ecommerce"),
          mapValue(
              {{strValue("promoClick"),
                mapValue({{strValue("promotions"),
                           promotions ? MOXTypes::objectToValue(promotions) : listValue({})}})},
               {strValue("purchase"), mapValue({})}})}});
  };
  fire({{"enable_ecommerce", boolValue(true)},
        {"ecommerce_macro_data", commerce(array({dict({{"id", str("C1")}})}))}});
  fire({{"enable_ecommerce", boolValue(true)}, {"ecommerce_macro_data", commerce(nullptr)}});
  const auto sent = hits();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(field(sent[0], "&promo1id"), "C1");
  EXPECT_EQ(field(sent[0], "&promoa"), "click");
  EXPECT_EQ(field(sent[0], "&pa"), "(absent)");
  EXPECT_EQ(field(sent[1], "&promoa"), "(absent)");
  EXPECT_EQ(field(sent[1], "&pa"), "purchase");
}

TEST_F(QuorraTest, AMalformedCommerceListLeavesTheTagAndTheTrackerIsStillRemoved) {
  fire({{"enable_ecommerce", boolValue(true)},
        {"analytics_fields", stringMap({{"&t", "pageview"}})}});
  ASSERT_EQ(hits().size(), 1u);  // no commerce object: the fields alone
  dataLayer_->push(dict({{"ecommerce", dict({{"impressions", str("oops")}})}}));
  EXPECT_THROW(fire({{"enable_ecommerce", boolValue(true)},
                     {"collect_adid", boolValue(true)},
                     {"ecommerce_use_data_layer", boolValue(true)}}),
               IllegalArgumentException);
  EXPECT_EQ(hits().size(), 1u);
  // The firing's tracker is gone: asking for one under its id makes a fresh one.
  auto tracker = facade_.facade().trackerWithTrackingId(MOXQuorra::kTrackerId);
  EXPECT_FALSE(tracker->allowIDFACollection());
}

}  // namespace
}  // namespace loomset
