#include "loomset/MOXFunctionCallImplementation.h"

#include <algorithm>
#include <new>

#include "loomset/MOXExpandedFunctionCall.h"
#include "loomset/MOXTrackingTag.h"
#include "loomset/MOXTypes.h"

namespace loomset {
namespace {

std::string setDescription(const std::vector<std::string>& items) {
  std::string text = "{(";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += ", ";
    text += items[i];
  }
  return text + ")}";
}

}  // namespace

ValuePtr MOXParameterMap::get(std::string_view key) const {
  const ValuePtr* value = find(key);
  return value ? *value : nullptr;
}

void MOXParameterMap::set(std::string key, ValuePtr value) {
  Entry* entries = data();
  for (std::size_t i = 0; i < size_; ++i) {
    if (sameKey(entries[i].first, key)) {
      entries[i].second = std::move(value);
      return;
    }
  }
  append(std::move(key), std::move(value));
}

void MOXParameterMap::append(std::string key, ValuePtr value) {
  ownedKeys_.push_front(std::move(key));
  appendView(ownedKeys_.front(), std::move(value));
}

MOXParameterMap::MOXParameterMap(MOXParameterMap&& other) noexcept {
  *this = std::move(other);
}

MOXParameterMap& MOXParameterMap::operator=(MOXParameterMap&& other) noexcept {
  if (this == &other) return *this;
  clear();
  if (other.heap_.empty()) {
    for (std::size_t i = 0; i < other.size_; ++i) {
      new (inlineEntries() + i) Entry(std::move(other.inlineEntries()[i]));
      other.inlineEntries()[i].~Entry();
    }
  } else {
    heap_ = std::move(other.heap_);
    other.heap_.clear();
  }
  size_ = other.size_;
  other.size_ = 0;
  // Moving the list keeps its nodes, so the views into them stay valid.
  ownedKeys_ = std::move(other.ownedKeys_);
  return *this;
}

void MOXParameterMap::appendToHeap(std::string_view key, ValuePtr value) {
  if (heap_.empty()) {
    heap_.reserve(2 * kInline);
    for (std::size_t i = 0; i < size_; ++i) {
      heap_.push_back(std::move(inlineEntries()[i]));
      inlineEntries()[i].~Entry();
    }
  }
  heap_.push_back(Entry{key, std::move(value)});
  ++size_;
}

void MOXParameterMap::clear() {
  if (heap_.empty()) {
    for (std::size_t i = 0; i < size_; ++i) inlineEntries()[i].~Entry();
  }
  heap_.clear();
  size_ = 0;
  ownedKeys_.clear();
}

std::string MOXParameterMap::keysDescription() const {
  std::vector<std::string> keys;
  keys.reserve(size_);
  for (const Entry& entry : *this) keys.emplace_back(entry.first);
  return setDescription(keys);
}

const std::string& MOXFunctionCallImplementation::functionKey() {
  return MOXExpandedFunctionCall::functionKey();
}
const std::string& MOXFunctionCallImplementation::instanceNameKey() {
  return MOXExpandedFunctionCall::instanceNameKey();
}
const std::string& MOXFunctionCallImplementation::notDefaultMacroKey() {
  return MOXExpandedFunctionCall::notDefaultMacroKey();
}

MOXFunctionCallImplementation::MOXFunctionCallImplementation(std::string functionId,
                                                             std::vector<std::string> requiredKeys)
    : functionId_(std::move(functionId)), requiredKeys_(std::move(requiredKeys)) {}

bool MOXFunctionCallImplementation::hasRequiredKeys(const MOXParameterMap& parameters) const {
  return std::all_of(requiredKeys_.begin(), requiredKeys_.end(),
                     [&](const std::string& key) { return parameters.contains(key); });
}

bool MOXFunctionCallImplementation::hasRequiredKeys(const std::vector<std::string>& keys) const {
  return std::all_of(requiredKeys_.begin(), requiredKeys_.end(), [&](const std::string& key) {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
  });
}

std::string MOXFunctionCallImplementation::requiredKeysDescription() const {
  return setDescription(requiredKeys_);
}

ValuePtr MOXTrackingTag::evaluate(const MOXParameterMap& parameters) {
  evaluateTrackingTag(parameters);
  return MOXTypes::defaultValue();
}

}  // namespace loomset
