#include "tags/MOXQuorraRecords.h"

#include <cctype>
#include <optional>
#include <string>
#include <string_view>

#include "loomset/Exceptions.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"

namespace loomset {
namespace {

// The number after the first occurrence of `word` that digits follow ("dimension(\d+)" searched
// anywhere in the key); nothing without one.
std::optional<std::size_t> numberAfter(std::string_view key, std::string_view word) {
  for (std::size_t at = key.find(word); at != std::string_view::npos; at = key.find(word, at + 1)) {
    std::size_t end = at + word.size();
    std::size_t value = 0;
    bool digits = false;
    while (end < key.size() && std::isdigit(static_cast<unsigned char>(key[end]))) {
      value = value * 10 + static_cast<std::size_t>(key[end] - '0');
      digits = true;
      ++end;
    }
    if (digits) return value;
  }
  return std::nullopt;
}

PLUHitValue textAt(const Dictionary& map, std::string_view key) {
  return MOXQuorraDescription(map.objectForKey(key));
}

}  // namespace

const Array* MOXQuorraArrayOfDictionaries(const ObjectPtr& object) {
  if (!object) return nullptr;
  const Array* list = asArray(object);
  if (!list) throw IllegalArgumentException("Expected dictionary entry to be of type NSArray");
  for (const ObjectPtr& item : list->items()) {
    if (!asDictionary(item)) {
      throw IllegalArgumentException("Each element of the array should be of type NSDictionary");
    }
  }
  return list;
}

PLUNumber MOXQuorraNumberFromObject(const ObjectPtr& object) {
  if (asNumber(object)) return PLUNumber(object);
  if (const String* text = asString(object)) {
    if (auto parsed = MOXTypes::parseNumber(text->text())) return PLUNumber(ObjectPtr(parsed));
  }
  return PLUNumber();
}

PLUHitValue MOXQuorraDescription(const ObjectPtr& object) {
  if (!object) return kPLUNullMarker;
  return object->description();
}

PLUEcommerceProduct MOXQuorraProduct(const Dictionary& map) {
  PLUEcommerceProduct product;
  const auto text = [&](const char* key,
                        PLUEcommerceProduct& (PLUEcommerceProduct::*set)(PLUHitValue)) {
    if (const ObjectPtr value = map.objectForKey(key)) (product.*set)(value->description());
  };
  const auto number = [&](const char* key,
                          PLUEcommerceProduct& (PLUEcommerceProduct::*set)(const PLUNumber&)) {
    if (const ObjectPtr value = map.objectForKey(key)) {
      const PLUNumber parsed = MOXQuorraNumberFromObject(value);
      if (!parsed.isNil()) (product.*set)(parsed);
    }
  };
  text("id", &PLUEcommerceProduct::setId);
  text("name", &PLUEcommerceProduct::setName);
  text("brand", &PLUEcommerceProduct::setBrand);
  text("category", &PLUEcommerceProduct::setCategory);
  text("variant", &PLUEcommerceProduct::setVariant);
  text("coupon", &PLUEcommerceProduct::setCouponCode);
  number("position", &PLUEcommerceProduct::setPosition);
  number("price", &PLUEcommerceProduct::setPrice);
  number("quantity", &PLUEcommerceProduct::setQuantity);
  for (const auto& [key, value] : map.entries()) {
    const String* name = asString(key);
    if (!name) continue;
    if (const auto dimension = numberAfter(name->text(), "dimension")) {
      product.setCustomDimension(*dimension, MOXQuorraDescription(value));
    } else if (const auto metric = numberAfter(name->text(), "metric")) {
      product.setCustomMetric(*metric, MOXQuorraNumberFromObject(value));
    }
  }
  return product;
}

PLUEcommercePromotion MOXQuorraPromotion(const Dictionary& map) {
  PLUEcommercePromotion promotion;
  if (auto v = textAt(map, "id")) promotion.setId(v);
  if (auto v = textAt(map, "name")) promotion.setName(v);
  if (auto v = textAt(map, "creative")) promotion.setCreative(v);
  if (auto v = textAt(map, "position")) promotion.setPosition(v);
  return promotion;
}

PLUEcommerceProductAction MOXQuorraActionData(const Dictionary& map) {
  PLUEcommerceProductAction action;
  if (auto v = textAt(map, "id")) action.setTransactionId(v);
  if (auto v = textAt(map, "affiliation")) action.setAffiliation(v);
  if (auto v = textAt(map, "coupon")) action.setCouponCode(v);
  if (auto v = textAt(map, "list")) action.setProductActionList(v);
  if (auto v = textAt(map, "option")) action.setCheckoutOption(v);
  if (auto n = MOXQuorraNumberFromObject(map.objectForKey("revenue")); !n.isNil()) {
    action.setRevenue(n);
  }
  if (auto n = MOXQuorraNumberFromObject(map.objectForKey("tax")); !n.isNil()) {
    action.setTax(n);
  }
  if (auto n = MOXQuorraNumberFromObject(map.objectForKey("shipping")); !n.isNil()) {
    action.setShipping(n);
  }
  if (auto n = MOXQuorraNumberFromObject(map.objectForKey("step")); !n.isNil()) {
    action.setCheckoutStep(n);
  }
  return action;
}

}  // namespace loomset
