#include "loomset/PLUEcommerce.h"

#include "loomset/PLUFields.h"
#include "loomset/Scalars.h"

namespace loomset {

PLUNumber::PLUNumber(double value) : text_(Number::float64(value)->stringValue()) {}

PLUNumber::PLUNumber(const ObjectPtr& object) {
  if (object && object->kind() == ObjectKind::Number) {
    text_ = static_cast<const Number&>(*object).stringValue();
  }
}

PLUEcommerceProduct& PLUEcommerceProduct::setString(PLUHitValue value, const std::string& key) {
  parameters_.insert_or_assign(key, std::move(value));
  return *this;
}

PLUEcommerceProduct& PLUEcommerceProduct::setNumber(const PLUNumber& value,
                                                    const std::string& key) {
  parameters_.insert_or_assign(key, value.hitValue());
  return *this;
}

PLUEcommerceProduct& PLUEcommerceProduct::setCustomDimension(std::size_t index, PLUHitValue value) {
  return setString(std::move(value), PLUFields::customDimensionForIndex(index));
}

PLUEcommerceProduct& PLUEcommerceProduct::setCustomMetric(std::size_t index,
                                                          const PLUNumber& value) {
  return setNumber(value, PLUFields::customMetricForIndex(index));
}

PLUHitMap PLUEcommerceProduct::buildWithIndex(std::size_t index) const {
  PLUHitMap built;
  for (const auto& [key, value] : parameters_) {
    built.insert_or_assign(PLUEcommerceFields::productFieldForIndex(index, key), value);
  }
  return built;
}

PLUHitMap PLUEcommerceProduct::buildWithListIndex(std::size_t listIndex, std::size_t index) const {
  const std::string list = PLUEcommerceFields::impressionListForIndex(listIndex);
  PLUHitMap built;
  for (const auto& [key, value] : parameters_) {
    built.insert_or_assign(PLUEcommerceFields::productImpressionForList(list, index, key), value);
  }
  return built;
}

PLUEcommerceProductAction& PLUEcommerceProductAction::setString(PLUHitValue value,
                                                                const std::string& key) {
  parameters_.insert_or_assign(key, std::move(value));
  return *this;
}

PLUEcommerceProductAction& PLUEcommerceProductAction::setNumber(const PLUNumber& value,
                                                                const std::string& key) {
  parameters_.insert_or_assign(key, value.hitValue());
  return *this;
}

PLUEcommercePromotion& PLUEcommercePromotion::setString(PLUHitValue value, const std::string& key) {
  parameters_.insert_or_assign(key, std::move(value));
  return *this;
}

PLUEcommercePromotion& PLUEcommercePromotion::setNumber(const PLUNumber& value,
                                                        const std::string& key) {
  parameters_.insert_or_assign(key, value.hitValue());
  return *this;
}

PLUHitMap PLUEcommercePromotion::buildWithIndex(std::size_t index) const {
  PLUHitMap built;
  for (const auto& [key, value] : parameters_) {
    built.insert_or_assign(PLUEcommerceFields::promotionForIndex(index, key), value);
  }
  return built;
}

}  // namespace loomset
