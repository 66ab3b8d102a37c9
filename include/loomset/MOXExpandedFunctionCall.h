// One tag, macro or predicate occurrence of an expanded container: its properties by key and the
// value a macro pushes to the data layer after it has been evaluated.
//
// Calls compare and hash by identity: they are shared by every rule that refers to them, and the
// runtime keeps what it learns about a call in its own tables, under the ordinal the resource
// gave the call (MOXExpandedResource::ordinalOf). Two separately built calls with equal
// properties are different calls.
//
// Ownership: a call owns its keys and shares its Values; whoever holds the shared handle keeps
// it alive (rules and resources do).
//
// Threads: immutable once built, so any thread may read it without a lock.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "loomset/Export.h"
#include "loomset/MOXPValue.h"

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
  // The properties in insertion order. The keys stay where they are for the call's life, so
  // views of them may be kept as long as the call is.
  const std::vector<Property>& properties() const { return properties_; }
  std::size_t propertyCount() const { return properties_.size(); }
  const ValuePtr& pushAfterEvaluate() const { return pushAfterEvaluate_; }

  // "Properties: {...} pushAfterEvaluate: ..."
  std::string description() const;
  // A new call (a new identity) with the same properties and push value.
  std::shared_ptr<MOXExpandedFunctionCall> copy() const;

 private:
  // Calls with many properties keep a key index so building and lookups stay linear.
  static constexpr std::size_t kIndexThreshold = 8;
  static std::vector<Property> withoutRepeatedKeys(const std::vector<Property>& properties);

  const std::vector<Property> properties_;
  std::unordered_map<std::string_view, std::size_t> index_;  // empty when small
  const ValuePtr pushAfterEvaluate_;
};

using MOXExpandedFunctionCallPtr = std::shared_ptr<MOXExpandedFunctionCall>;

// Collects properties and a push value; `build` may be called repeatedly, and every built call
// has its own copy of the properties. One builder is used by one thread at a time.
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
