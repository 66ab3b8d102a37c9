// Builds the hit map of one analytics hit: a create method per hit type, free-form parameters,
// campaign parameters taken from a URL, and enhanced-commerce records. `build` produces the map a
// tracker's `send` takes. Every nil argument stores the null marker, so a builder can clear a
// tracker field for one hit.
//
// A plain value; one builder is used by one thread at a time.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "loomset/Collections.h"
#include "loomset/Export.h"
#include "loomset/PLUEcommerce.h"
#include "loomset/PLUHitMap.h"

namespace loomset {

class LOOMSET_EXPORT PLUDictionaryBuilder {
 public:
  PLUDictionaryBuilder() = default;

  static PLUDictionaryBuilder createScreenView();
  // The same hit type as createScreenView ("screenview").
  static PLUDictionaryBuilder createAppView();
  static PLUDictionaryBuilder createEventWithCategory(PLUHitValue category, PLUHitValue action,
                                                      PLUHitValue label, const PLUNumber& value);
  static PLUDictionaryBuilder createExceptionWithDescription(PLUHitValue description,
                                                             const PLUNumber& fatal);
  static PLUDictionaryBuilder createTimingWithCategory(PLUHitValue category,
                                                       const PLUNumber& interval, PLUHitValue name,
                                                       PLUHitValue label);
  static PLUDictionaryBuilder createSocialWithNetwork(PLUHitValue network, PLUHitValue action,
                                                      PLUHitValue target);
  static PLUDictionaryBuilder createTransactionWithId(
      PLUHitValue transactionId, PLUHitValue affiliation, const PLUNumber& revenue,
      const PLUNumber& tax, const PLUNumber& shipping, PLUHitValue currencyCode);
  static PLUDictionaryBuilder createItemWithTransactionId(
      PLUHitValue transactionId, PLUHitValue name, PLUHitValue sku, PLUHitValue category,
      const PLUNumber& price, const PLUNumber& quantity, PLUHitValue currencyCode);
  // The exception hit without recording API usage; the crash handler builds its hit with it.
  static PLUDictionaryBuilder plu_exceptionWithDescription(PLUHitValue description,
                                                           const PLUNumber& fatal);

  PLUDictionaryBuilder& set(PLUHitValue value, const std::string& key);
  PLUDictionaryBuilder& setAll(const PLUHitMap& parameters);
  // From the object model: string keys with string values, or NSNull for the null marker. Other
  // entries are skipped with a warning.
  PLUDictionaryBuilder& setAll(const Dictionary& parameters);
  // The parameter's text; nil for the null marker or a missing key.
  PLUHitValue get(const std::string& key) const;
  // Sets the campaign parameters ("&cs", "&cm", ... "&anid") from the query of a URL, or from the
  // text itself when it has no query. A parameter missing from the query stores the null marker.
  PLUDictionaryBuilder& setCampaignParametersFromUrl(const std::string& urlString);

  PLUDictionaryBuilder& setProductAction(const PLUEcommerceProductAction& action);
  PLUDictionaryBuilder& addProduct(const PLUEcommerceProduct& product);
  PLUDictionaryBuilder& addPromotion(const PLUEcommercePromotion& promotion);
  // Lists are numbered in order of first use; a list keeps the source given when it was first
  // used. A nil list name or source counts as "".
  PLUDictionaryBuilder& addProductImpression(const PLUEcommerceProduct& product,
                                             const PLUHitValue& impressionList,
                                             const PLUHitValue& impressionSource);

  PLUHitMap build() const;

  PLUDictionaryBuilder& plu_set(PLUHitValue value, const std::string& key);

 private:
  PLUHitMap parameters_;
  std::optional<PLUEcommerceProductAction> pAction_;
  std::vector<PLUEcommerceProduct> products_;
  std::vector<PLUEcommercePromotion> promotions_;
  std::vector<std::string> impressionListNames_;
  std::vector<std::string> impressionListSources_;
  std::map<std::string, std::vector<PLUEcommerceProduct>> impressionLists_;
};

}  // namespace loomset
