#include "loomset/MOXExpandedFunctionCall.h"

#include "loomset/Exceptions.h"

#include <algorithm>

namespace loomset {

const std::string& MOXExpandedFunctionCall::functionKey() {
  static const std::string key = "function";
  return key;
}
const std::string& MOXExpandedFunctionCall::instanceNameKey() {
  static const std::string key = "instance_name";
  return key;
}
const std::string& MOXExpandedFunctionCall::notDefaultMacroKey() {
  static const std::string key = "not_default_macro";
  return key;
}

MOXExpandedFunctionCallBuilder MOXExpandedFunctionCall::builder() {
  return {};
}

MOXExpandedFunctionCall::MOXExpandedFunctionCall(const std::vector<Property>& properties,
                                                 ValuePtr pushAfterEvaluate)
    : properties_(withoutRepeatedKeys(properties)),
      pushAfterEvaluate_(std::move(pushAfterEvaluate)) {
  if (properties_.size() > kIndexThreshold) {
    index_.reserve(properties_.size());
    for (std::size_t i = 0; i < properties_.size(); ++i) index_.emplace(properties_[i].first, i);
  }
}

std::vector<MOXExpandedFunctionCall::Property> MOXExpandedFunctionCall::withoutRepeatedKeys(
    const std::vector<Property>& properties) {
  for (const auto& property : properties) {
    if (!property.second) {
      throw IllegalArgumentException("Property " + property.first + " has no value");
    }
  }
  std::vector<Property> result;
  result.reserve(properties.size());
  // Calls have a handful of properties: scanning them beats building an index.
  if (properties.size() <= kIndexThreshold) {
    for (const auto& [key, value] : properties) {
      auto same = std::find_if(result.begin(), result.end(),
                               [&key = key](const Property& p) { return p.first == key; });
      if (same == result.end()) {
        result.emplace_back(key, value);
      } else {
        same->second = value;
      }
    }
    return result;
  }
  std::unordered_map<std::string_view, std::size_t> seen;
  for (const auto& [key, value] : properties) {
    auto [it, added] = seen.emplace(key, result.size());
    if (added) {
      result.emplace_back(key, value);
    } else {
      result[it->second].second = value;
    }
  }
  return result;
}

ValuePtr MOXExpandedFunctionCall::propertyForKey(std::string_view key) const {
  if (!index_.empty()) {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : properties_[it->second].second;
  }
  for (const auto& [own, value] : properties_) {
    if (own == key) return value;
  }
  return nullptr;
}

std::string MOXExpandedFunctionCall::description() const {
  std::string text = "Properties: {";
  bool first = true;
  for (const auto& [key, value] : properties()) {
    if (!first) text += ", ";
    first = false;
    text += key + "=" + (value ? valueDescription(*value) : std::string("nil"));
  }
  text += "} pushAfterEvaluate: ";
  text += pushAfterEvaluate_ ? valueDescription(*pushAfterEvaluate_) : std::string("nil");
  return text;
}

std::shared_ptr<MOXExpandedFunctionCall> MOXExpandedFunctionCall::copy() const {
  return std::make_shared<MOXExpandedFunctionCall>(properties(), pushAfterEvaluate_);
}

MOXExpandedFunctionCallBuilder& MOXExpandedFunctionCallBuilder::addPropertyWithValue(
    ValuePtr value, std::string key) {
  if (!value) throw IllegalArgumentException("Property " + key + " has no value");
  auto it = index_.find(key);
  if (it != index_.end()) {
    properties_[it->second].second = std::move(value);
  } else {
    index_.emplace(key, properties_.size());
    properties_.emplace_back(std::move(key), std::move(value));
  }
  return *this;
}

MOXExpandedFunctionCallBuilder& MOXExpandedFunctionCallBuilder::setPushAfterEvaluate(
    ValuePtr value) {
  pushAfterEvaluate_ = std::move(value);
  return *this;
}

MOXExpandedFunctionCallPtr MOXExpandedFunctionCallBuilder::build() const {
  return std::make_shared<MOXExpandedFunctionCall>(properties_, pushAfterEvaluate_);
}

}  // namespace loomset
