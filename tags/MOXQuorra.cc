#include "tags/MOXQuorra.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

#include "loomset/Exceptions.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "loomset/PLU.h"
#include "loomset/PLUDictionaryBuilder.h"
#include "loomset/PLUFields.h"
#include "loomset/PLULogger.h"
#include "tags/MOXQuorraRecords.h"

namespace loomset {
namespace {

constexpr char kAccount[] = "account";
constexpr char kAnalyticsFields[] = "analytics_fields";
constexpr char kCollectAdid[] = "collect_adid";
constexpr char kEnableEcommerce[] = "enable_ecommerce";
constexpr char kEcommerceUseDataLayer[] = "ecommerce_use_data_layer";
constexpr char kEcommerceMacroData[] = "ecommerce_macro_data";
constexpr char kPassThrough[] = "analytics_pass_through";
constexpr char kTrackTransaction[] = "track_transaction";
constexpr char kTransactionMap[] = "transaction_datalayer_map";
constexpr char kItemMap[] = "transaction_item_datalayer_map";

const MOXQuorra::StringMap& defaultTransactionMap() {
  static const MOXQuorra::StringMap map{
      {"transactionId", "&ti"},    {"transactionAffiliation", "&ta"},
      {"transactionTax", "&tt"},   {"transactionShipping", "&ts"},
      {"transactionTotal", "&tr"}, {"transactionCurrency", "&cu"}};
  return map;
}

const MOXQuorra::StringMap& defaultItemMap() {
  static const MOXQuorra::StringMap map{{"name", "&in"},  {"sku", "&ic"},      {"category", "&iv"},
                                        {"price", "&ip"}, {"quantity", "&iq"}, {"currency", "&cu"}};
  return map;
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The first action key the commerce object has, in the order the protocol ranks them.
const char* productActionKey(const Dictionary& commerce) {
  static const char* const kKeys[] = {"detail", "checkout", "checkout_option", "click",
                                      "add",    "remove",   "purchase",        "refund"};
  for (const char* key : kKeys) {
    if (commerce.objectForKey(key)) return key;
  }
  return nullptr;
}

// The promotions list of a "promoClick" or "promoView" entry (a map holding "promotions").
const Array* promotionsOf(const ObjectPtr& entry) {
  const Dictionary* map = asDictionary(entry);
  return map ? MOXQuorraArrayOfDictionaries(map->objectForKey("promotions")) : nullptr;
}

}  // namespace

const std::string& MOXQuorra::functionId() {
  static const std::string id = "_qr";
  return id;
}

MOXQuorra::MOXQuorra(std::shared_ptr<MOXDataLayer> dataLayer)
    : MOXTrackingTag(functionId(), {}), dataLayer_(std::move(dataLayer)) {}

// ---- Argument helpers ------------------------------------------------------------------------

bool MOXQuorra::checkBooleanPropertyForTag(const MOXParameterMap& tag, const std::string& key) {
  const ValuePtr value = tag.get(key);
  return value && value->boolean();
}

std::optional<std::string> MOXQuorra::dataLayerString(const std::string& key) const {
  if (!dataLayer_) return std::nullopt;
  const ObjectPtr object = dataLayer_->get(key);
  if (!object) return std::nullopt;
  return object->description();
}

std::optional<MOXQuorra::StringMap> MOXQuorra::valueToStringMap(const ValuePtr& value) {
  if (!value || value->type() != MOXPValue::Map) return std::nullopt;
  StringMap map;
  const int pairs = std::min(value->map_key_size(), value->map_value_size());
  for (int i = 0; i < pairs; ++i) {
    map[MOXTypes::valueToString(&value->map_key(i))->text()] =
        MOXTypes::valueToString(&value->map_value(i))->text();
  }
  return map;
}

PLUHitMap MOXQuorra::qzFieldsWithAnalyticsFields(const ValuePtr& value) {
  PLUHitMap fields;
  if (const auto map = valueToStringMap(value)) {
    for (const auto& [key, text] : *map) fields[key] = text;
  }
  static const char* const kTurnOffAnonymizeIp[] = {"", "0", "false"};
  const auto aip = fields.find(kPLUAnonymizeIp);
  if (aip != fields.end() && aip->second) {
    const std::string setting = lowered(*aip->second);
    for (const char* off : kTurnOffAnonymizeIp) {
      if (setting == off) {
        fields.erase(aip);
        break;
      }
    }
  }
  return fields;
}

// ---- Firing ----------------------------------------------------------------------------------

void MOXQuorra::installLoggerOnce() {
  std::shared_ptr<PLULogger> installed;
  {
    MutexLock lock(loggerMu_);
    if (logger_) return;
    logger_ = std::make_shared<PLULoggerImpl>();
    installed = logger_;
  }
  PLU::sharedInstance()->setLogger(installed);
}

void MOXQuorra::evaluateTrackingTag(const MOXParameterMap& parameters) {
  installLoggerOnce();
  const auto facade = PLU::sharedInstance();
  const auto tracker = facade->trackerWithTrackingId(kTrackerId);
  if (!tracker) return;  // the facade has logged why
  // The tracker belongs to this firing alone, also when building the hit throws.
  struct RemoveTracker {
    const std::shared_ptr<PLU>& facade;
    const std::string name;
    ~RemoveTracker() { facade->removeTrackerByName(name); }
  } removeTracker{facade, tracker->name()};

  tracker->setAllowIDFACollection(checkBooleanPropertyForTag(parameters, kCollectAdid));
  if (checkBooleanPropertyForTag(parameters, kEnableEcommerce)) {
    sendEnhancedEcommerce(parameters, *tracker);
  } else if (checkBooleanPropertyForTag(parameters, kPassThrough)) {
    tracker->send(qzFieldsWithAnalyticsFields(parameters.get(kAnalyticsFields)));
  } else if (checkBooleanPropertyForTag(parameters, kTrackTransaction)) {
    sendTransaction(parameters, *tracker);
  } else {
    MOXLog::warning("Ignoring unknown tag.");
  }
}

void MOXQuorra::sendTransaction(const MOXParameterMap& tag, PLUTracker& tracker) {
  const std::string account = MOXTypes::valueToString(tag.get(kAccount))->text();
  const auto transactionId = dataLayerString("transactionId");
  if (!transactionId) {
    MOXLog::error("Cannot find transactionId in data layer.");
    return;
  }
  std::vector<PLUHitMap> hits;
  try {
    PLUHitMap transaction = qzFieldsWithAnalyticsFields(tag.get(kAnalyticsFields));
    transaction["&tid"] = account;
    transaction["&t"] = "transaction";
    const auto transactionMap = valueToStringMap(tag.get(kTransactionMap));
    for (const auto& [key, parameter] :
         transactionMap ? *transactionMap : defaultTransactionMap()) {
      if (auto text = dataLayerString(key)) transaction[parameter] = std::move(*text);
    }
    hits.push_back(std::move(transaction));

    const auto itemMap = valueToStringMap(tag.get(kItemMap));
    const Array* products =
        MOXQuorraArrayOfDictionaries(dataLayer_ ? dataLayer_->get("transactionProducts") : nullptr);
    if (products) {
      for (const ObjectPtr& entry : products->items()) {
        const Dictionary& product = *asDictionary(entry);
        if (!product.objectForKey("name")) {
          MOXLog::error("Unable to send transaction item hit due to missing 'name' field.");
          return;
        }
        PLUHitMap item = qzFieldsWithAnalyticsFields(tag.get(kAnalyticsFields));
        item["&t"] = "item";
        item["&ti"] = *transactionId;
        for (const auto& [key, parameter] : itemMap ? *itemMap : defaultItemMap()) {
          if (const ObjectPtr value = product.objectForKey(key)) {
            item[parameter] = value->description();
          }
        }
        hits.push_back(std::move(item));
      }
    }
  } catch (const IllegalArgumentException& e) {
    MOXLog::error("Unable to send transaction: " + e.reason());
    return;
  }
  for (const PLUHitMap& hit : hits) tracker.send(hit);
}

ObjectPtr MOXQuorra::commerceObject(const MOXParameterMap& tag) const {
  if (checkBooleanPropertyForTag(tag, kEcommerceUseDataLayer)) {
    const ObjectPtr object = dataLayer_ ? dataLayer_->get("ecommerce") : nullptr;
    return asDictionary(object) ? object : nullptr;
  }
  const ObjectPtr macroData = MOXTypes::valueToObject(tag.get(kEcommerceMacroData));
  const Dictionary* map = asDictionary(macroData);
  if (!map) return nullptr;
  const ObjectPtr commerce = map->objectForKey("ecommerce");
  return asDictionary(commerce) ? commerce : nullptr;
}

void MOXQuorra::sendEnhancedEcommerce(const MOXParameterMap& tag, PLUTracker& tracker) {
  PLUDictionaryBuilder builder;
  builder.setAll(qzFieldsWithAnalyticsFields(tag.get(kAnalyticsFields)));
  const ObjectPtr object = commerceObject(tag);
  if (const Dictionary* commerce = asDictionary(object)) {
    if (!builder.get(kPLUCurrencyCode)) {
      if (const ObjectPtr currency = commerce->objectForKey("currencyCode")) {
        builder.set(currency->description(), kPLUCurrencyCode);
      }
    }
    if (const Array* impressions =
            MOXQuorraArrayOfDictionaries(commerce->objectForKey("impressions"))) {
      for (const ObjectPtr& entry : impressions->items()) {
        const Dictionary& impression = *asDictionary(entry);
        builder.addProductImpression(MOXQuorraProduct(impression),
                                     MOXQuorraDescription(impression.objectForKey("list")),
                                     MOXQuorraDescription(impression.objectForKey("source")));
      }
    }
    const ObjectPtr promoClick = commerce->objectForKey("promoClick");
    const Array* promotions =
        promoClick ? promotionsOf(promoClick) : promotionsOf(commerce->objectForKey("promoView"));
    bool clicked = false;
    if (promotions && promotions->count() > 0) {
      for (const ObjectPtr& entry : promotions->items()) {
        builder.addPromotion(MOXQuorraPromotion(*asDictionary(entry)));
      }
      clicked = promoClick != nullptr;
      builder.set(clicked ? kPLUPromotionClick : kPLUPromotionView, kPLUPromotionAction);
    }
    // A promotion click carries no product action.
    const char* actionKey = clicked ? nullptr : productActionKey(*commerce);
    if (actionKey) {
      const Dictionary* actionObject = asDictionary(commerce->objectForKey(actionKey));
      if (actionObject) {
        if (const Array* products =
                MOXQuorraArrayOfDictionaries(actionObject->objectForKey("products"))) {
          for (const ObjectPtr& entry : products->items()) {
            builder.addProduct(MOXQuorraProduct(*asDictionary(entry)));
          }
        }
      }
      const Dictionary* actionField =
          actionObject ? asDictionary(actionObject->objectForKey("actionField")) : nullptr;
      PLUEcommerceProductAction action =
          actionField ? MOXQuorraActionData(*actionField) : PLUEcommerceProductAction();
      action.setAction(std::string(actionKey));
      builder.setProductAction(action);
    }
  }
  tracker.send(builder.build());
}

}  // namespace loomset
