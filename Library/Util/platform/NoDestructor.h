// Process-wide objects that must stay usable while other threads (the worker loops) run during
// process exit, so they are built once and never destroyed.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

namespace loomset {

template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    new (&storage_) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;

  T* get() { return std::launder(reinterpret_cast<T*>(&storage_)); }
  T& operator*() { return *get(); }
  T* operator->() { return get(); }

 private:
  std::aligned_storage_t<sizeof(T), alignof(T)> storage_;
};

}  // namespace loomset
