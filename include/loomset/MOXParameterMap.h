// Evaluated parameters of one function call by property key, in the order of the call's
// properties, as the runtime hands them to an implementation. Small maps live on the stack.
//
// Keys added with `append` are owned by the map; keys added with `appendView` must outlive it
// (the runtime uses the call's own keys). Movable, not copyable.
//
// Threads: a map belongs to the evaluation that built it.
#pragma once

#include <cstddef>
#include <forward_list>
#include <string>
#include <string_view>
#include <vector>

#include "loomset/Export.h"
#include "loomset/MOXPValue.h"

namespace loomset {

class LOOMSET_EXPORT MOXParameterMap {
 public:
  struct Entry {
    std::string_view first;  // the key
    ValuePtr second;         // the value
  };
  using const_iterator = const Entry*;

  MOXParameterMap() = default;
  MOXParameterMap(MOXParameterMap&&) = default;
  MOXParameterMap& operator=(MOXParameterMap&&) = default;
  MOXParameterMap(const MOXParameterMap&) = delete;
  MOXParameterMap& operator=(const MOXParameterMap&) = delete;

  // Null when the key is absent.
  ValuePtr get(std::string_view key) const;
  const ValuePtr* find(std::string_view key) const;
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  // Replaces the value of an existing key, or appends the key.
  void set(std::string key, ValuePtr value);
  // Adds a key that is not present yet.
  void append(std::string key, ValuePtr value);
  void appendView(std::string_view key, ValuePtr value);

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const_iterator begin() const { return data(); }
  const_iterator end() const { return data() + size_; }
  // Values may be replaced in place; keys stay.
  Entry* begin() { return data(); }
  Entry* end() { return data() + size_; }
  void clear();

  // The keys as a set's text form, for log lines: "{(arg0, function)}".
  std::string keysDescription() const;

 private:
  static constexpr std::size_t kInline = 8;
  const Entry* data() const { return heap_.empty() ? inline_ : heap_.data(); }
  Entry* data() { return heap_.empty() ? inline_ : heap_.data(); }

  Entry inline_[kInline];
  std::vector<Entry> heap_;  // holds every entry once there are more than kInline
  std::size_t size_ = 0;
  std::forward_list<std::string> ownedKeys_;  // nodes never move, so views stay valid
};

}  // namespace loomset
