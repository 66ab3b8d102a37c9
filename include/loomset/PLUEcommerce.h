// The enhanced-commerce records a hit can carry: products, one product action, promotions. Each
// is a small map of sub-keys to values that the dictionary builder turns into indexed parameter
// names ("&pr1nm", "&il1pi2id", "&promo1cr"). A nil argument stores the null marker, which
// masks a tracker field of the same final name for that hit.
//
// Plain values, copied into a builder when added. Not synchronised.
#pragma once

#include <cstddef>
#include <string>

#include "loomset/Export.h"
#include "loomset/PLUHitMap.h"

namespace loomset {

class LOOMSET_EXPORT PLUEcommerceProduct {
 public:
  PLUEcommerceProduct& setId(PLUHitValue value) { return setString(std::move(value), "id"); }
  PLUEcommerceProduct& setName(PLUHitValue value) { return setString(std::move(value), "nm"); }
  PLUEcommerceProduct& setBrand(PLUHitValue value) { return setString(std::move(value), "br"); }
  PLUEcommerceProduct& setCategory(PLUHitValue value) { return setString(std::move(value), "ca"); }
  PLUEcommerceProduct& setVariant(PLUHitValue value) { return setString(std::move(value), "va"); }
  PLUEcommerceProduct& setPrice(const PLUNumber& value) { return setNumber(value, "pr"); }
  PLUEcommerceProduct& setQuantity(const PLUNumber& value) { return setNumber(value, "qt"); }
  PLUEcommerceProduct& setCouponCode(PLUHitValue value) {
    return setString(std::move(value), "cc");
  }
  // A product's position is a number; a promotion's is text.
  PLUEcommerceProduct& setPosition(const PLUNumber& value) { return setNumber(value, "ps"); }
  PLUEcommerceProduct& setCustomDimension(std::size_t index, PLUHitValue value);
  PLUEcommerceProduct& setCustomMetric(std::size_t index, const PLUNumber& value);

  PLUEcommerceProduct& setString(PLUHitValue value, const std::string& key);
  PLUEcommerceProduct& setNumber(const PLUNumber& value, const std::string& key);

  const PLUHitMap& parameters() const { return parameters_; }
  // Every sub-key k renamed to "&pr<index>k".
  PLUHitMap buildWithIndex(std::size_t index) const;
  // Every sub-key k renamed to "&il<list>pi<index>k".
  PLUHitMap buildWithListIndex(std::size_t listIndex, std::size_t index) const;

 private:
  PLUHitMap parameters_;
};

class LOOMSET_EXPORT PLUEcommerceProductAction {
 public:
  // One of kPLUPADetail ... kPLUPARefund.
  PLUEcommerceProductAction& setAction(PLUHitValue v) { return setString(std::move(v), "&pa"); }
  PLUEcommerceProductAction& setTransactionId(PLUHitValue v) {
    return setString(std::move(v), "&ti");
  }
  PLUEcommerceProductAction& setAffiliation(PLUHitValue v) {
    return setString(std::move(v), "&ta");
  }
  PLUEcommerceProductAction& setRevenue(const PLUNumber& v) { return setNumber(v, "&tr"); }
  PLUEcommerceProductAction& setTax(const PLUNumber& v) { return setNumber(v, "&tt"); }
  PLUEcommerceProductAction& setShipping(const PLUNumber& v) { return setNumber(v, "&ts"); }
  PLUEcommerceProductAction& setCouponCode(PLUHitValue v) {
    return setString(std::move(v), "&tcc");
  }
  PLUEcommerceProductAction& setCheckoutStep(const PLUNumber& v) { return setNumber(v, "&cos"); }
  PLUEcommerceProductAction& setCheckoutOption(PLUHitValue v) {
    return setString(std::move(v), "&col");
  }
  PLUEcommerceProductAction& setProductActionList(PLUHitValue v) {
    return setString(std::move(v), "&pal");
  }
  PLUEcommerceProductAction& setProductListSource(PLUHitValue v) {
    return setString(std::move(v), "&pls");
  }

  PLUEcommerceProductAction& setString(PLUHitValue value, const std::string& key);
  PLUEcommerceProductAction& setNumber(const PLUNumber& value, const std::string& key);

  const PLUHitMap& parameters() const { return parameters_; }
  // The keys already carry "&": the map is the hit's part as it stands.
  PLUHitMap build() const { return parameters_; }

 private:
  PLUHitMap parameters_;
};

class LOOMSET_EXPORT PLUEcommercePromotion {
 public:
  PLUEcommercePromotion& setId(PLUHitValue value) { return setString(std::move(value), "id"); }
  PLUEcommercePromotion& setName(PLUHitValue value) { return setString(std::move(value), "nm"); }
  PLUEcommercePromotion& setCreative(PLUHitValue value) {
    return setString(std::move(value), "cr");
  }
  PLUEcommercePromotion& setPosition(PLUHitValue value) {
    return setString(std::move(value), "ps");
  }

  PLUEcommercePromotion& setString(PLUHitValue value, const std::string& key);
  PLUEcommercePromotion& setNumber(const PLUNumber& value, const std::string& key);

  const PLUHitMap& parameters() const { return parameters_; }
  // Every sub-key k renamed to "&promo<index>k".
  PLUHitMap buildWithIndex(std::size_t index) const;

 private:
  PLUHitMap parameters_;
};

}  // namespace loomset
