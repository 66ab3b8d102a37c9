#include "loomset/Collections.h"

#include "loomset/Exceptions.h"

#include "loomset/Scalars.h"

namespace loomset {

namespace {

// Texts of nested collections are built recursively; a collection that contains itself (or one
// nested absurdly deep) is cut off instead of overflowing the stack.
constexpr int kMaxDescriptionDepth = 512;
thread_local int descriptionDepth = 0;

struct DescriptionDepth {
  DescriptionDepth() { ++descriptionDepth; }
  ~DescriptionDepth() { --descriptionDepth; }
  bool tooDeep() const { return descriptionDepth > kMaxDescriptionDepth; }
};

}  // namespace

Array::Array(std::vector<ObjectPtr> items) : items_(std::move(items)) {
  for (const ObjectPtr& item : items_) {
    if (!item) throw IllegalArgumentException("Array items must not be null");
  }
}

void Array::addObject(ObjectPtr object) {
  if (object) items_.push_back(std::move(object));
}

void Array::replaceObjectAtIndex(std::size_t i, ObjectPtr object) {
  if (object && i < items_.size()) items_[i] = std::move(object);
}

std::string Array::description() const {
  DescriptionDepth depth;
  if (depth.tooDeep()) return "(...)";
  std::string out = "(";
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (i) out += ", ";
    out += items_[i]->description();
  }
  return out + ")";
}

bool Array::isEqual(const Object& other) const {
  if (other.kind() != ObjectKind::Array) return false;
  const auto& o = static_cast<const Array&>(other).items_;
  if (o.size() != items_.size()) return false;
  for (std::size_t i = 0; i < o.size(); ++i) {
    if (!ObjectEqual()(items_[i], o[i])) return false;
  }
  return true;
}

std::ptrdiff_t Dictionary::find(const Object& key, std::size_t hash) const {
  if (entries_.size() <= kIndexThreshold) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const Object& k = *entries_[i].first;
      if (&k == &key || k.isEqual(key)) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
  }
  auto range = index_.equal_range(hash);
  for (auto it = range.first; it != range.second; ++it) {
    const Object& k = *entries_[it->second].first;
    if (&k == &key || k.isEqual(key)) return static_cast<std::ptrdiff_t>(it->second);
  }
  return -1;
}

std::ptrdiff_t Dictionary::findText(std::string_view key) const {
  auto matches = [&](const Object& k) {
    return k.kind() == ObjectKind::String && static_cast<const String&>(k).text() == key;
  };
  if (entries_.size() <= kIndexThreshold) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (matches(*entries_[i].first)) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
  }
  auto range = index_.equal_range(String::hashText(key));
  for (auto it = range.first; it != range.second; ++it) {
    if (matches(*entries_[it->second].first)) return static_cast<std::ptrdiff_t>(it->second);
  }
  return -1;
}

ObjectPtr Dictionary::objectForKey(const ObjectPtr& key) const {
  if (!key) return nullptr;
  const auto i = find(*key, key->hash());
  return i < 0 ? nullptr : entries_[static_cast<std::size_t>(i)].second;
}

ObjectPtr Dictionary::objectForKey(std::string_view key) const {
  const auto i = findText(key);
  return i < 0 ? nullptr : entries_[static_cast<std::size_t>(i)].second;
}

void Dictionary::setObject(ObjectPtr value, ObjectPtr key) {
  if (!value || !key) return;
  const std::size_t h = key->hash();
  const auto i = find(*key, h);
  if (i >= 0) {
    entries_[static_cast<std::size_t>(i)].second = std::move(value);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(value));
  if (entries_.size() == kIndexThreshold + 1) {
    rebuildIndex();
  } else if (entries_.size() > kIndexThreshold) {
    index_.emplace(h, entries_.size() - 1);
  }
}

void Dictionary::setObject(ObjectPtr value, std::string_view key) {
  if (!value) return;
  const auto i = findText(key);
  if (i >= 0) {
    entries_[static_cast<std::size_t>(i)].second = std::move(value);
    return;
  }
  setObject(std::move(value), String::create(std::string(key)));
}

void Dictionary::removeObjectForKey(const ObjectPtr& key) {
  if (!key) return;
  const auto i = find(*key, key->hash());
  if (i < 0) return;
  entries_.erase(entries_.begin() + i);
  rebuildIndex();
}

void Dictionary::removeAllObjects() {
  entries_.clear();
  index_.clear();
}

void Dictionary::rebuildIndex() {
  index_.clear();
  if (entries_.size() <= kIndexThreshold) return;
  index_.reserve(entries_.size() * 2);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    index_.emplace(entries_[i].first->hash(), i);
  }
}

std::shared_ptr<Dictionary> Dictionary::copy() const {
  auto out = std::make_shared<Dictionary>();
  out->entries_ = entries_;
  out->index_ = index_;
  return out;
}

std::string Dictionary::description() const {
  DescriptionDepth depth;
  if (depth.tooDeep()) return "{...}";
  std::string out = "{";
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (i) out += ", ";
    out += entries_[i].first->description() + " = " + entries_[i].second->description();
  }
  return out + "}";
}

bool Dictionary::isEqual(const Object& other) const {
  if (other.kind() != ObjectKind::Dictionary) return false;
  const auto& o = static_cast<const Dictionary&>(other);
  if (o.count() != count()) return false;
  for (const auto& [k, v] : entries_) {
    if (!ObjectEqual()(o.objectForKey(k), v)) return false;
  }
  return true;
}

}  // namespace loomset
