// Reading the analytics tag's data-layer objects: lists of maps, numbers, and the enhanced-commerce
// records (products, promotions, product actions) built from their data-layer maps.
//
// Pure functions over the object model; any thread.
#pragma once

#include "loomset/Collections.h"
#include "loomset/PLUEcommerce.h"
#include "loomset/PLUHitMap.h"

namespace loomset {

// Null for null; the array itself when every element is a map. Throws IllegalArgumentException
// ("Expected dictionary entry to be of type NSArray" for a non-list, "Each element of the array
// should be of type NSDictionary" for an element that is not a map).
const Array* MOXQuorraArrayOfDictionaries(const ObjectPtr& object);
// A number as it is; text parsed as a decimal number; nil for anything else.
PLUNumber MOXQuorraNumberFromObject(const ObjectPtr& object);
// The object's text form; nil for no object.
PLUHitValue MOXQuorraDescription(const ObjectPtr& object);

// "id", "name", "brand", "category", "variant", "coupon" as text; "position", "price",
// "quantity" as numbers; a key containing "dimension<n>" sets custom dimension n, otherwise one
// containing "metric<n>" sets custom metric n.
PLUEcommerceProduct MOXQuorraProduct(const Dictionary& map);
// "id", "name", "creative", "position".
PLUEcommercePromotion MOXQuorraPromotion(const Dictionary& map);
// "id", "affiliation", "coupon", "list", "option" as text; "revenue", "tax", "shipping", "step"
// as numbers.
PLUEcommerceProductAction MOXQuorraActionData(const Dictionary& map);

}  // namespace loomset
