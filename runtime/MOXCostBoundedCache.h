// A thread-safe cache whose entries carry a cost; when the total passes the limit the least
// recently used entries go. An entry that alone costs more than the limit is not kept.
#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <optional>
#include <unordered_map>
#include <utility>

#include "Library/Util/platform/Mutex.h"

namespace loomset {

template <typename Key, typename Value, typename Hash = std::hash<Key>>
class MOXCostBoundedCache {
 public:
  explicit MOXCostBoundedCache(std::size_t totalCostLimit) : limit_(totalCostLimit) {}

  std::optional<Value> get(const Key& key) {
    MutexLock lock(mu_);
    auto it = index_.find(key);
    if (it == index_.end()) return std::nullopt;
    entries_.splice(entries_.begin(), entries_, it->second);
    return it->second->value;
  }

  void put(const Key& key, Value value, std::size_t cost) {
    MutexLock lock(mu_);
    auto it = index_.find(key);
    if (it != index_.end()) {
      total_ -= it->second->cost;
      entries_.erase(it->second);
      index_.erase(it);
    }
    if (cost > limit_) return;
    entries_.push_front(Entry{key, std::move(value), cost});
    index_.emplace(key, entries_.begin());
    total_ += cost;
    while (total_ > limit_) {
      const Entry& oldest = entries_.back();
      total_ -= oldest.cost;
      index_.erase(oldest.key);
      entries_.pop_back();
    }
  }

  std::size_t count() const {
    MutexLock lock(mu_);
    return index_.size();
  }
  std::size_t totalCost() const {
    MutexLock lock(mu_);
    return total_;
  }

 private:
  struct Entry {
    Key key;
    Value value;
    std::size_t cost;
  };

  const std::size_t limit_;

  mutable Mutex mu_;
  std::list<Entry> entries_ GUARDED_BY(mu_);  // most recently used first
  std::unordered_map<Key, typename std::list<Entry>::iterator, Hash> index_ GUARDED_BY(mu_);
  std::size_t total_ GUARDED_BY(mu_) = 0;
};

}  // namespace loomset
