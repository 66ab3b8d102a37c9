// An expanded container resource: its rules, its macro calls filed by macro name, and its
// version. Tags and predicates are reached only through rules. Built once per loaded resource
// and shared read-only by the runtimes that evaluate it.
//
// Every distinct call the resource reaches (through its rules and its macro map) has an ordinal:
// 0, 1, 2, ... in the order the resource first meets the calls (rules in order, each rule's
// predicates, tags and macros, then the macro map). A runtime keeps what it learns about a call
// (the implementation it found, folded parameters, cached results) in its own table indexed by
// that ordinal, so the model itself never changes. A call shared by two resources has an
// ordinal in each.
//
// Ownership: the resource shares its rules and calls; runtimes share the resource.
// Threads: immutable once built; any thread may read it without a lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "loomset/Export.h"
#include "loomset/MOXExpandedFunctionCall.h"
#include "loomset/MOXExpandedRule.h"

namespace loomset {

class MOXExpandedResourceBuilder;

class LOOMSET_EXPORT MOXExpandedResource {
 public:
  using Calls = std::vector<MOXExpandedFunctionCallPtr>;
  // Macro names in the order in which each name was first filed.
  using MacroMap = std::vector<std::pair<std::string, Calls>>;

  static MOXExpandedResourceBuilder builder();

  MOXExpandedResource(std::vector<MOXExpandedRulePtr> rules, MacroMap macros, std::string version,
                      std::int32_t resourceFormatVersion);
  MOXExpandedResource(const MOXExpandedResource&) = delete;
  MOXExpandedResource& operator=(const MOXExpandedResource&) = delete;

  const std::vector<MOXExpandedRulePtr>& rules() const { return rules_; }
  // The calls filed under the name, in insertion order; null when there are none.
  const Calls* macrosByName(std::string_view name) const;
  const MacroMap& allMacros() const { return macros_; }
  const std::string& version() const { return version_; }
  // The number of distinct calls, and each by its ordinal.
  std::size_t callCount() const { return calls_.size(); }
  const std::vector<const MOXExpandedFunctionCall*>& calls() const { return calls_; }
  // The call's ordinal, or kNoOrdinal when the resource does not reach the call.
  static constexpr std::size_t kNoOrdinal = static_cast<std::size_t>(-1);
  std::size_t ordinalOf(const MOXExpandedFunctionCall& call) const;
  std::int32_t resourceFormatVersion() const { return resourceFormatVersion_; }

  // "Rules: ...  Macros: ...  Version: ... Format: ..."
  std::string description() const;

 private:
  void numberCalls();
  // The slot of `call` in ordinalSlots_: where it is, or the empty slot where it would go.
  std::size_t ordinalSlot(const MOXExpandedFunctionCall* call) const;

  const std::vector<MOXExpandedRulePtr> rules_;
  const MacroMap macros_;
  std::unordered_map<std::string, std::size_t> macroIndex_;  // name -> position in macros_
  std::vector<const MOXExpandedFunctionCall*> calls_;        // by ordinal
  // Open addressing by address (a resource has thousands of calls, and a node per call would
  // cost more than the rest of the numbering): call and ordinal, null where empty.
  std::vector<std::pair<const MOXExpandedFunctionCall*, std::size_t>> ordinalSlots_;
  const std::string version_;
  const std::int32_t resourceFormatVersion_;
};

using MOXExpandedResourcePtr = std::shared_ptr<const MOXExpandedResource>;

class LOOMSET_EXPORT MOXExpandedResourceBuilder {
 public:
  MOXExpandedResourceBuilder& addRule(MOXExpandedRulePtr rule);
  // Files the call under the text of its "instance_name" property (the empty name without one).
  MOXExpandedResourceBuilder& addMacro(MOXExpandedFunctionCallPtr call);
  MOXExpandedResourceBuilder& setVersion(std::string version);
  MOXExpandedResourceBuilder& setResourceFormatVersion(std::int32_t version);
  MOXExpandedResourcePtr build() const;

 private:
  std::vector<MOXExpandedRulePtr> rules_;
  MOXExpandedResource::MacroMap macros_;
  std::unordered_map<std::string, std::size_t> macroIndex_;
  std::string version_;
  std::int32_t resourceFormatVersion_ = 0;
};

}  // namespace loomset
