// An expanded container resource: its rules, its macro calls filed by macro name, and its
// version. Tags and predicates are reached only through rules. Built once per loaded resource
// and shared read-only by the runtime that evaluates it.
//
// Threads: immutable once built (apart from the calls' own property replacement); any thread may
// read it.
#pragma once

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
  std::int32_t resourceFormatVersion() const { return resourceFormatVersion_; }

  // "Rules: ...  Macros: ...  Version: ... Format: ..."
  std::string description() const;

 private:
  const std::vector<MOXExpandedRulePtr> rules_;
  const MacroMap macros_;
  std::unordered_map<std::string, std::size_t> macroIndex_;  // name -> position in macros_
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
