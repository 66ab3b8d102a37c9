#include "loomset/PLUDictionaryBuilder.h"

#include "analytics/PLULog.h"
#include "analytics/PLUUsageTracker.h"
#include "analytics/model/PLUCampaignQuery.h"
#include "loomset/PLUFields.h"
#include "loomset/Scalars.h"

namespace loomset {
namespace {

PLUDictionaryBuilder withType(const char* type) {
  PLUDictionaryBuilder builder;
  builder.plu_set(std::string(type), kPLUHitType);
  return builder;
}

struct CampaignKey {
  const char* input;
  const char* parameter;
};

constexpr CampaignKey kCampaignKeys[] = {
    {kPLUInputCampaignOrvexClickId, kPLUOclid},
    {kPLUInputCampaignRfxClickId, kPLURclid},
    {kPLUInputCampaignPennonTicketId, kPLUZmob_t},
    {kPLUInputCampaignSource, kPLUCampaignSource},
    {kPLUInputCampaignMedium, kPLUCampaignMedium},
    {kPLUInputCampaignName, kPLUCampaignName},
    {kPLUInputCampaignTerm, kPLUCampaignKeyword},
    {kPLUInputCampaignContent, kPLUCampaignContent},
    {kPLUInputCampaignId, kPLUCampaignId},
    {kPLUInputCampaignAdNetworkClickId, kPLUCampaignAdNetworkClickId},
    {kPLUInputCampaignAdNetworkId, kPLUCampaignAdNetworkId},
};

void mergeInto(PLUHitMap& target, const PLUHitMap& source) {
  for (const auto& [key, value] : source) target.insert_or_assign(key, value);
}

}  // namespace

PLUDictionaryBuilder PLUDictionaryBuilder::createScreenView() {
  PLUUsageTracker::trackAction("createScreenView");
  return withType(kPLUScreenView);
}

PLUDictionaryBuilder PLUDictionaryBuilder::createAppView() {
  PLUUsageTracker::trackAction("createAppView");
  return withType(kPLUScreenView);
}

PLUDictionaryBuilder PLUDictionaryBuilder::createEventWithCategory(PLUHitValue category,
                                                                   PLUHitValue action,
                                                                   PLUHitValue label,
                                                                   const PLUNumber& value) {
  PLUUsageTracker::trackAction("createEventWithCategory:action:label:value:");
  PLUDictionaryBuilder builder = withType(kPLUEvent);
  builder.plu_set(std::move(category), kPLUEventCategory);
  builder.plu_set(std::move(action), kPLUEventAction);
  builder.plu_set(std::move(label), kPLUEventLabel);
  builder.plu_set(value.hitValue(), kPLUEventValue);
  return builder;
}

PLUDictionaryBuilder PLUDictionaryBuilder::createExceptionWithDescription(PLUHitValue description,
                                                                          const PLUNumber& fatal) {
  PLUUsageTracker::trackAction("createExceptionWithDescription:withFatal:");
  return plu_exceptionWithDescription(std::move(description), fatal);
}

PLUDictionaryBuilder PLUDictionaryBuilder::plu_exceptionWithDescription(PLUHitValue description,
                                                                        const PLUNumber& fatal) {
  PLUDictionaryBuilder builder = withType(kPLUException);
  builder.plu_set(fatal.hitValue(), kPLUExFatal);
  builder.plu_set(std::move(description), kPLUExDescription);
  return builder;
}

PLUDictionaryBuilder PLUDictionaryBuilder::createTimingWithCategory(PLUHitValue category,
                                                                    const PLUNumber& interval,
                                                                    PLUHitValue name,
                                                                    PLUHitValue label) {
  PLUUsageTracker::trackAction("createTimingWithCategory:interval:name:label:");
  PLUDictionaryBuilder builder = withType(kPLUTiming);
  builder.plu_set(std::move(category), kPLUTimingCategory);
  builder.plu_set(std::move(name), kPLUTimingVar);
  builder.plu_set(interval.hitValue(), kPLUTimingValue);
  builder.plu_set(std::move(label), kPLUTimingLabel);
  return builder;
}

PLUDictionaryBuilder PLUDictionaryBuilder::createSocialWithNetwork(PLUHitValue network,
                                                                   PLUHitValue action,
                                                                   PLUHitValue target) {
  PLUUsageTracker::trackAction("createSocialWithNetwork:action:target:");
  PLUDictionaryBuilder builder = withType(kPLUSocial);
  builder.plu_set(std::move(network), kPLUSocialNetwork);
  builder.plu_set(std::move(action), kPLUSocialAction);
  builder.plu_set(std::move(target), kPLUSocialTarget);
  return builder;
}

PLUDictionaryBuilder PLUDictionaryBuilder::createTransactionWithId(
    PLUHitValue transactionId, PLUHitValue affiliation, const PLUNumber& revenue,
    const PLUNumber& tax, const PLUNumber& shipping, PLUHitValue currencyCode) {
  PLUUsageTracker::trackAction(
      "createTransactionWithId:affiliation:revenue:tax:shipping:currencyCode:");
  PLUDictionaryBuilder builder = withType(kPLUTransaction);
  builder.plu_set(std::move(transactionId), kPLUTransactionId);
  builder.plu_set(std::move(affiliation), kPLUTransactionAffiliation);
  builder.plu_set(revenue.hitValue(), kPLUTransactionRevenue);
  builder.plu_set(tax.hitValue(), kPLUTransactionTax);
  builder.plu_set(shipping.hitValue(), kPLUTransactionShipping);
  builder.plu_set(std::move(currencyCode), kPLUCurrencyCode);
  return builder;
}

PLUDictionaryBuilder PLUDictionaryBuilder::createItemWithTransactionId(
    PLUHitValue transactionId, PLUHitValue name, PLUHitValue sku, PLUHitValue category,
    const PLUNumber& price, const PLUNumber& quantity, PLUHitValue currencyCode) {
  PLUUsageTracker::trackAction(
      "createItemWithTransactionId:name:sku:category:price:quantity:currencyCode:");
  PLUDictionaryBuilder builder = withType(kPLUItem);
  builder.plu_set(std::move(transactionId), kPLUTransactionId);
  builder.plu_set(std::move(name), kPLUItemName);
  builder.plu_set(std::move(sku), kPLUItemSku);
  builder.plu_set(std::move(category), kPLUItemCategory);
  builder.plu_set(price.hitValue(), kPLUItemPrice);
  builder.plu_set(quantity.hitValue(), kPLUItemQuantity);
  builder.plu_set(std::move(currencyCode), kPLUCurrencyCode);
  return builder;
}

PLUDictionaryBuilder& PLUDictionaryBuilder::set(PLUHitValue value, const std::string& key) {
  PLUUsageTracker::trackAction("set:forKey:");
  return plu_set(std::move(value), key);
}

PLUDictionaryBuilder& PLUDictionaryBuilder::plu_set(PLUHitValue value, const std::string& key) {
  parameters_.insert_or_assign(key, std::move(value));
  return *this;
}

PLUDictionaryBuilder& PLUDictionaryBuilder::setAll(const PLUHitMap& parameters) {
  PLUUsageTracker::trackAction("setAll:");
  mergeInto(parameters_, parameters);
  return *this;
}

PLUDictionaryBuilder& PLUDictionaryBuilder::setAll(const Dictionary& parameters) {
  PLUUsageTracker::trackAction("setAll:");
  for (const auto& [key, value] : parameters.entries()) {
    if (!key || key->kind() != ObjectKind::String) {
      PLU_LOG_WARNING("Unexpected key type: " + (key ? key->className() : std::string("nil")));
      continue;
    }
    const std::string& name = static_cast<const String&>(*key).text();
    if (value && value->kind() == ObjectKind::String) {
      parameters_.insert_or_assign(name, static_cast<const String&>(*value).text());
    } else if (value && value->kind() == ObjectKind::Null) {
      parameters_.insert_or_assign(name, kPLUNullMarker);
    } else {
      PLU_LOG_WARNING("Unexpected value type: " +
                      (value ? value->className() : std::string("nil")));
    }
  }
  return *this;
}

PLUHitValue PLUDictionaryBuilder::get(const std::string& key) const {
  PLUUsageTracker::trackAction("dictionaryGet:");
  const auto it = parameters_.find(key);
  return it != parameters_.end() ? it->second : std::nullopt;
}

PLUDictionaryBuilder& PLUDictionaryBuilder::setCampaignParametersFromUrl(
    const std::string& urlString) {
  PLUUsageTracker::trackAction("setCampaignParametersFromUrl:");
  const auto query = plu_decodeParametersFromQuery(plu_queryOfUrl(urlString));
  for (const auto& key : kCampaignKeys) {
    const auto found = query.find(key.input);
    plu_set(found != query.end() ? PLUHitValue(found->second) : kPLUNullMarker, key.parameter);
  }
  return *this;
}

PLUDictionaryBuilder& PLUDictionaryBuilder::setProductAction(
    const PLUEcommerceProductAction& action) {
  pAction_ = action;
  return *this;
}

PLUDictionaryBuilder& PLUDictionaryBuilder::addProduct(const PLUEcommerceProduct& product) {
  products_.push_back(product);
  return *this;
}

PLUDictionaryBuilder& PLUDictionaryBuilder::addPromotion(const PLUEcommercePromotion& promotion) {
  promotions_.push_back(promotion);
  return *this;
}

PLUDictionaryBuilder& PLUDictionaryBuilder::addProductImpression(
    const PLUEcommerceProduct& product, const PLUHitValue& impressionList,
    const PLUHitValue& impressionSource) {
  const std::string list = impressionList.value_or("");
  auto it = impressionLists_.find(list);
  if (it == impressionLists_.end()) {
    impressionListNames_.push_back(list);
    impressionListSources_.push_back(impressionSource.value_or(""));
    it = impressionLists_.emplace(list, std::vector<PLUEcommerceProduct>()).first;
  }
  it->second.push_back(product);
  return *this;
}

PLUHitMap PLUDictionaryBuilder::build() const {
  PLUHitMap hit = parameters_;
  if (pAction_) mergeInto(hit, pAction_->build());
  for (std::size_t i = 0; i < products_.size(); ++i)
    mergeInto(hit, products_[i].buildWithIndex(i + 1));
  for (std::size_t i = 0; i < promotions_.size(); ++i) {
    mergeInto(hit, promotions_[i].buildWithIndex(i + 1));
  }
  for (std::size_t l = 0; l < impressionListNames_.size(); ++l) {
    const std::string prefix = PLUEcommerceFields::impressionListForIndex(l + 1);
    hit.insert_or_assign(prefix + kPLUImpressionName, impressionListNames_[l]);
    if (!impressionListSources_[l].empty()) {
      hit.insert_or_assign(prefix + kPLUImpressionListSource, impressionListSources_[l]);
    }
    const auto& products = impressionLists_.at(impressionListNames_[l]);
    for (std::size_t n = 0; n < products.size(); ++n) {
      mergeInto(hit, products[n].buildWithListIndex(l + 1, n + 1));
    }
  }
  return hit;
}

}  // namespace loomset
