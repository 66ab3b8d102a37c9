// A set of identities (object pointers or call ordinals) that remembers insertion order, so that
// the order in which selected tags run is reproducible.
#pragma once

#include <algorithm>
#include <cstddef>
#include <unordered_set>
#include <vector>

namespace loomset {

template <typename T>
class MOXIdentitySet {
 public:
  bool insert(T item) {
    if (contains(item)) return false;
    items_.push_back(item);
    if (!index_.empty()) {
      index_.insert(item);
    } else if (items_.size() > kIndexThreshold) {
      index_.insert(items_.begin(), items_.end());
    }
    return true;
  }
  bool contains(T item) const {
    if (!index_.empty()) return index_.count(item) > 0;
    return std::find(items_.begin(), items_.end(), item) != items_.end();
  }
  // The items of this set that are not in `other`, in this set's order.
  std::vector<T> minus(const MOXIdentitySet& other) const {
    std::vector<T> result;
    result.reserve(items_.size());
    for (T item : items_) {
      if (!other.contains(item)) result.push_back(item);
    }
    return result;
  }
  const std::vector<T>& items() const { return items_; }
  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }

 private:
  // Small sets are scanned; larger ones keep a hash index.
  static constexpr std::size_t kIndexThreshold = 16;
  std::vector<T> items_;
  std::unordered_set<T> index_;
};

}  // namespace loomset
