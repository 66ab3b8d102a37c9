// Arrays and dictionaries of objects. Both are mutable and not synchronised: whoever owns one
// guards it. Dictionaries keep insertion order (a replaced key keeps its place), so everything
// that enumerates them is deterministic.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "loomset/Object.h"

namespace loomset {

class LOOMSET_EXPORT Array final : public Object {
 public:
  Array() = default;
  // Raises IllegalArgumentException when an item is a null handle.
  explicit Array(std::vector<ObjectPtr> items);
  static std::shared_ptr<Array> create(std::vector<ObjectPtr> items = {}) {
    return std::make_shared<Array>(std::move(items));
  }

  std::size_t count() const { return items_.size(); }
  const ObjectPtr& objectAtIndex(std::size_t i) const { return items_.at(i); }
  const std::vector<ObjectPtr>& items() const { return items_; }
  // Null handles are not stored (an array holds objects only).
  void addObject(ObjectPtr object);
  void replaceObjectAtIndex(std::size_t i, ObjectPtr object);

  ObjectKind kind() const override { return ObjectKind::Array; }
  std::string className() const override { return "NSArray"; }
  std::string description() const override;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override { return items_.size(); }

 private:
  std::vector<ObjectPtr> items_;
};

class LOOMSET_EXPORT Dictionary final : public Object {
 public:
  using Entry = std::pair<ObjectPtr, ObjectPtr>;

  Dictionary() = default;
  static std::shared_ptr<Dictionary> create() { return std::make_shared<Dictionary>(); }

  std::size_t count() const { return entries_.size(); }
  // Entries in insertion order.
  const std::vector<Entry>& entries() const { return entries_; }

  ObjectPtr objectForKey(const ObjectPtr& key) const;
  // Looks a string key up without allocating.
  ObjectPtr objectForKey(std::string_view key) const;
  // A null key or value is ignored: a dictionary holds objects only.
  void setObject(ObjectPtr value, ObjectPtr key);
  void setObject(ObjectPtr value, std::string_view key);
  void removeObjectForKey(const ObjectPtr& key);
  void removeAllObjects();
  // A new dictionary with the same entries (the objects themselves are shared).
  std::shared_ptr<Dictionary> copy() const;

  ObjectKind kind() const override { return ObjectKind::Dictionary; }
  std::string className() const override { return "NSDictionary"; }
  std::string description() const override;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override { return entries_.size(); }

 private:
  // Small dictionaries are scanned; larger ones keep a hash index of entry positions.
  static constexpr std::size_t kIndexThreshold = 8;
  std::ptrdiff_t find(const Object& key, std::size_t hash) const;
  std::ptrdiff_t findText(std::string_view key) const;
  void rebuildIndex();

  std::vector<Entry> entries_;
  std::unordered_multimap<std::size_t, std::size_t> index_;  // key hash -> entry position
};

}  // namespace loomset
