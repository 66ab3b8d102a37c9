// One tag, macro or predicate occurrence of an expanded container: its properties by key and the
// value a macro pushes to the data layer after it has been evaluated.
//
// Calls compare and hash by identity: they are shared by every rule that refers to them, and the
// runtime uses them as cache keys. Two separately built calls with equal properties are different
// calls. The properties are fixed once built, except that the runtime replaces a property by its
// evaluated static value (`updateCacheablePropertyWithValue`).
//
// Threads: every operation may be called from any thread; a property replacement may run while
// other threads read the properties.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "loomset/Export.h"
#include "loomset/MOXPValue.h"
#include "loomset/MOXParameterMap.h"

namespace loomset {

class MOXExpandedFunctionCallBuilder;

class LOOMSET_EXPORT MOXExpandedFunctionCall {
 public:
  using Property = std::pair<std::string, ValuePtr>;

  // The reserved property keys.
  static const std::string& functionKey();         // "function"
  static const std::string& instanceNameKey();     // "instance_name"
  static const std::string& notDefaultMacroKey();  // "not_default_macro"

  static MOXExpandedFunctionCallBuilder builder();

  // Keeps its own copy of the list (the Values are shared). A later entry with the key of an
  // earlier one replaces it.
  MOXExpandedFunctionCall(const std::vector<Property>& properties, ValuePtr pushAfterEvaluate);
  MOXExpandedFunctionCall(const MOXExpandedFunctionCall&) = delete;
  MOXExpandedFunctionCall& operator=(const MOXExpandedFunctionCall&) = delete;

  // Null when the call has no such property.
  ValuePtr propertyForKey(std::string_view key) const;
  // A snapshot of the properties in insertion order.
  std::vector<Property> properties() const;
  // Appends the properties to `into` without copying keys: the views stay valid for the call's
  // life.
  void snapshotProperties(MOXParameterMap& into) const;

  // Runtime bookkeeping: the implementation a runtime found for this call, so that later
  // executions skip the lookup by function id and the required-keys check. `owner` and `serial`
  // say whose implementation table the entry belongs to; an entry of another table is ignored.
  struct Resolution {
    const void* owner = nullptr;
    std::uint64_t serial = 0;
    void* implementation = nullptr;
    bool hasRequiredKeys = false;
    std::uint64_t keySetVersion = 0;  // set by the snapshot; a record made for an older key set
                                      // is dropped
  };
  // `snapshotProperties`, and the resolution recorded last, under one lock.
  Resolution snapshotPropertiesAndResolution(MOXParameterMap& into) const;
  void recordResolution(const Resolution& resolution) const;
  std::size_t propertyCount() const;
  const ValuePtr& pushAfterEvaluate() const { return pushAfterEvaluate_; }

  // Replaces (or adds) the Value under the key in place.
  void updateCacheablePropertyWithValue(ValuePtr value, const std::string& key);

  // Runtime bookkeeping: set once a runtime has cached a result of this call, so that lookups
  // which cannot hit are skipped.
  void markResultCached() const { resultCached_.store(true, std::memory_order_release); }
  bool mayHaveCachedResult() const { return resultCached_.load(std::memory_order_acquire); }

  // "Properties: {...} pushAfterEvaluate: ..."
  std::string description() const;
  // A new call (a new identity) with the same properties and push value.
  std::shared_ptr<MOXExpandedFunctionCall> copy() const;

 private:
  // Calls with many properties keep a key index so building and lookups stay linear.
  static constexpr std::size_t kIndexThreshold = 8;
  std::ptrdiff_t findLocked(std::string_view key) const;
  void setLocked(ValuePtr value, const std::string& key);

  struct Slot {
    std::unique_ptr<const std::string> key;  // never moves, so views of it stay valid
    ValuePtr value;
  };
  // Held only to copy or replace a few pointers, and replacements are rare, so spinning is
  // cheaper than a mutex on the evaluation path.
  class SpinLock {
   public:
    void lock() {
      while (locked_.exchange(true, std::memory_order_acquire)) {
        while (locked_.load(std::memory_order_relaxed)) std::this_thread::yield();
      }
    }
    void unlock() { locked_.store(false, std::memory_order_release); }

   private:
    std::atomic<bool> locked_{false};
  };
  mutable SpinLock mu_;
  std::vector<Slot> slots_;                                  // guarded by mu_
  std::unordered_map<std::string_view, std::size_t> index_;  // guarded by mu_; empty when small
  const ValuePtr pushAfterEvaluate_;
  mutable std::atomic<bool> resultCached_{false};
  mutable Resolution resolution_;    // guarded by mu_; reset when a key is added
  std::uint64_t keySetVersion_ = 0;  // guarded by mu_; counts added keys
};

using MOXExpandedFunctionCallPtr = std::shared_ptr<MOXExpandedFunctionCall>;

// Collects properties and a push value; `build` may be called repeatedly, and every built call
// has its own copy of the properties.
class LOOMSET_EXPORT MOXExpandedFunctionCallBuilder {
 public:
  MOXExpandedFunctionCallBuilder& addPropertyWithValue(ValuePtr value, std::string key);
  MOXExpandedFunctionCallBuilder& setPushAfterEvaluate(ValuePtr value);
  MOXExpandedFunctionCallPtr build() const;

 private:
  std::vector<MOXExpandedFunctionCall::Property> properties_;
  std::unordered_map<std::string, std::size_t> index_;
  ValuePtr pushAfterEvaluate_;
};

}  // namespace loomset
