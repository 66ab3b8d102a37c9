#include "loomset/MOXExpandedFunctionCall.h"

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
    : pushAfterEvaluate_(std::move(pushAfterEvaluate)) {
  slots_.reserve(properties.size());
  for (const auto& [key, value] : properties) setLocked(value, key);
}

std::ptrdiff_t MOXExpandedFunctionCall::findLocked(std::string_view key) const {
  if (!index_.empty()) {
    auto it = index_.find(key);
    return it == index_.end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
  }
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (*slots_[i].key == key) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

void MOXExpandedFunctionCall::setLocked(ValuePtr value, const std::string& key) {
  const std::ptrdiff_t at = findLocked(key);
  if (at >= 0) {
    slots_[static_cast<std::size_t>(at)].value = std::move(value);
    return;
  }
  slots_.push_back(Slot{std::make_unique<const std::string>(key), std::move(value)});
  // The required keys may be complete now.
  resolution_ = Resolution{};
  ++keySetVersion_;
  if (!index_.empty()) {
    index_.emplace(*slots_.back().key, slots_.size() - 1);
  } else if (slots_.size() > kIndexThreshold) {
    for (std::size_t i = 0; i < slots_.size(); ++i) index_.emplace(*slots_[i].key, i);
  }
}

ValuePtr MOXExpandedFunctionCall::propertyForKey(std::string_view key) const {
  std::lock_guard<SpinLock> lock(mu_);
  const std::ptrdiff_t at = findLocked(key);
  return at < 0 ? nullptr : slots_[static_cast<std::size_t>(at)].value;
}

std::vector<MOXExpandedFunctionCall::Property> MOXExpandedFunctionCall::properties() const {
  std::lock_guard<SpinLock> lock(mu_);
  std::vector<Property> result;
  result.reserve(slots_.size());
  for (const Slot& slot : slots_) result.emplace_back(*slot.key, slot.value);
  return result;
}

void MOXExpandedFunctionCall::snapshotProperties(MOXParameterMap& into) const {
  std::lock_guard<SpinLock> lock(mu_);
  for (const Slot& slot : slots_) into.appendView(*slot.key, slot.value);
}

MOXExpandedFunctionCall::Resolution MOXExpandedFunctionCall::snapshotPropertiesAndResolution(
    MOXParameterMap& into) const {
  std::lock_guard<SpinLock> lock(mu_);
  for (const Slot& slot : slots_) into.appendView(*slot.key, slot.value);
  Resolution resolution = resolution_;
  resolution.keySetVersion = keySetVersion_;
  return resolution;
}

void MOXExpandedFunctionCall::recordResolution(const Resolution& resolution) const {
  std::lock_guard<SpinLock> lock(mu_);
  if (resolution.keySetVersion == keySetVersion_) resolution_ = resolution;
}

std::size_t MOXExpandedFunctionCall::propertyCount() const {
  std::lock_guard<SpinLock> lock(mu_);
  return slots_.size();
}

void MOXExpandedFunctionCall::updateCacheablePropertyWithValue(ValuePtr value,
                                                               const std::string& key) {
  std::lock_guard<SpinLock> lock(mu_);
  setLocked(std::move(value), key);
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
