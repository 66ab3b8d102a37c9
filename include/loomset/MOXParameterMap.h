// Evaluated parameters of one function call by property key, in the order of the call's
// properties, as the runtime hands them to an implementation. Small maps live on the stack.
//
// Keys added with `append` are owned by the map; keys added with `appendView` must outlive it
// (the runtime uses the call's own keys). Movable, not copyable.
//
// Threads: a map belongs to the evaluation that built it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <forward_list>
#include <functional>
#include <new>
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
  MOXParameterMap(MOXParameterMap&& other) noexcept;
  MOXParameterMap& operator=(MOXParameterMap&& other) noexcept;
  ~MOXParameterMap() { clear(); }
  MOXParameterMap(const MOXParameterMap&) = delete;
  MOXParameterMap& operator=(const MOXParameterMap&) = delete;

  // Keys are short: comparing them word by word in line beats calling into the C library.
  static bool sameKey(std::string_view a, std::string_view b) {
    std::size_t n = a.size();
    if (n != b.size()) return false;
    const char* p = a.data();
    const char* q = b.data();
    if (p == q) return true;
    for (; n >= 8; n -= 8, p += 8, q += 8) {
      std::uint64_t x, y;
      std::memcpy(&x, p, 8);
      std::memcpy(&y, q, 8);
      if (x != y) return false;
    }
    if (n >= 4) {
      std::uint32_t x, y;
      std::memcpy(&x, p, 4);
      std::memcpy(&y, q, 4);
      if (x != y) return false;
      n -= 4, p += 4, q += 4;
    }
    for (; n > 0; --n) {
      if (*p++ != *q++) return false;
    }
    return true;
  }

  // Null when the key is absent.
  ValuePtr get(std::string_view key) const;
  const ValuePtr* find(std::string_view key) const {
    for (const Entry& entry : *this) {
      if (sameKey(entry.first, key)) return &entry.second;
    }
    return nullptr;
  }
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  // Replaces the value of an existing key, or appends the key.
  void set(std::string key, ValuePtr value);
  // Adds a key that is not present yet.
  void append(std::string key, ValuePtr value);
  void appendView(std::string_view key, ValuePtr value) {
    if (heap_.empty() && size_ < kInline) {
      new (inlineEntries() + size_) Entry{key, std::move(value)};
      ++size_;
    } else {
      appendToHeap(key, std::move(value));
    }
  }

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
  void appendToHeap(std::string_view key, ValuePtr value);
  // The inline entries are constructed only as they are appended: maps are built for every
  // evaluated call, and zeroing unused room would cost more than the entries themselves.
  const Entry* inlineEntries() const { return reinterpret_cast<const Entry*>(inline_); }
  Entry* inlineEntries() { return reinterpret_cast<Entry*>(inline_); }
  const Entry* data() const { return heap_.empty() ? inlineEntries() : heap_.data(); }
  Entry* data() { return heap_.empty() ? inlineEntries() : heap_.data(); }

  alignas(Entry) unsigned char inline_[kInline * sizeof(Entry)];
  std::vector<Entry> heap_;  // holds every entry once there are more than kInline
  std::size_t size_ = 0;
  std::forward_list<std::string> ownedKeys_;  // nodes never move, so views stay valid
};

// Equality and hashing of string keys for the runtime's maps.
struct MOXKeyEqual {
  bool operator()(std::string_view a, std::string_view b) const {
    return MOXParameterMap::sameKey(a, b);
  }
};
// FNV-1a: for keys and names of a few letters it is cheaper than the library's string hash.
struct MOXKeyHash {
  std::size_t operator()(std::string_view key) const {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
    return static_cast<std::size_t>(hash);
  }
};

}  // namespace loomset
