#include "loomset/PLUFields.h"

namespace loomset {
namespace {

std::string suffixText(const std::optional<std::string>& suffix) {
  return suffix ? PLUEcommerceFields::stripAmpersandIfPresent(*suffix) : std::string();
}

}  // namespace

std::string PLUFields::contentGroupForIndex(std::size_t index) {
  return "&cg" + std::to_string(index);
}

std::string PLUFields::customDimensionForIndex(std::size_t index) {
  return "&cd" + std::to_string(index);
}

std::string PLUFields::customMetricForIndex(std::size_t index) {
  return "&cm" + std::to_string(index);
}

std::string PLUEcommerceFields::productFieldForIndex(std::size_t index,
                                                     const std::optional<std::string>& suffix) {
  return "&pr" + std::to_string(index) + suffixText(suffix);
}

std::string PLUEcommerceFields::impressionListForIndex(std::size_t index) {
  return "&il" + std::to_string(index);
}

std::string PLUEcommerceFields::productImpressionForList(const std::string& listPrefix,
                                                         std::size_t index,
                                                         const std::optional<std::string>& suffix) {
  return listPrefix + "pi" + std::to_string(index) + suffixText(suffix);
}

std::string PLUEcommerceFields::promotionForIndex(std::size_t index,
                                                  const std::optional<std::string>& suffix) {
  return "&promo" + std::to_string(index) + suffixText(suffix);
}

std::string PLUEcommerceFields::stripAmpersandIfPresent(std::string_view text) {
  if (!text.empty() && text.front() == '&') text.remove_prefix(1);
  return std::string(text);
}

}  // namespace loomset
