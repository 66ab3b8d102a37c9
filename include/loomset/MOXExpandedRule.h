// One rule of an expanded container: predicates that decide whether it passes, and the tags and
// macro calls it adds or removes when it does. The calls are shared with the resource and with
// every other rule that names them. Rules compare and hash by identity.
//
// Ownership: a rule shares its calls; resources share their rules.
// Threads: immutable once built; any thread may read it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "loomset/Export.h"
#include "loomset/MOXExpandedFunctionCall.h"

namespace loomset {

class MOXExpandedRuleBuilder;

class LOOMSET_EXPORT MOXExpandedRule {
 public:
  using Calls = std::vector<MOXExpandedFunctionCallPtr>;

  static MOXExpandedRuleBuilder builder();

  MOXExpandedRule(Calls positivePredicates, Calls negativePredicates, Calls addTags,
                  Calls removeTags, Calls addMacros, Calls removeMacros);
  MOXExpandedRule(const MOXExpandedRule&) = delete;
  MOXExpandedRule& operator=(const MOXExpandedRule&) = delete;

  const Calls& positivePredicates() const { return positivePredicates_; }
  const Calls& negativePredicates() const { return negativePredicates_; }
  const Calls& addTags() const { return addTags_; }
  const Calls& removeTags() const { return removeTags_; }
  const Calls& addMacros() const { return addMacros_; }
  const Calls& removeMacros() const { return removeMacros_; }

  std::string description() const;

 private:
  const Calls positivePredicates_;
  const Calls negativePredicates_;
  const Calls addTags_;
  const Calls removeTags_;
  const Calls addMacros_;
  const Calls removeMacros_;
};

using MOXExpandedRulePtr = std::shared_ptr<const MOXExpandedRule>;

// Appends calls to the six lists; a call added twice stands twice.
class LOOMSET_EXPORT MOXExpandedRuleBuilder {
 public:
  MOXExpandedRuleBuilder& addPositivePredicate(MOXExpandedFunctionCallPtr call);
  MOXExpandedRuleBuilder& addNegativePredicate(MOXExpandedFunctionCallPtr call);
  MOXExpandedRuleBuilder& addAddTag(MOXExpandedFunctionCallPtr call);
  MOXExpandedRuleBuilder& addRemoveTag(MOXExpandedFunctionCallPtr call);
  MOXExpandedRuleBuilder& addAddMacro(MOXExpandedFunctionCallPtr call);
  MOXExpandedRuleBuilder& addRemoveMacro(MOXExpandedFunctionCallPtr call);
  MOXExpandedRulePtr build() const;

 private:
  MOXExpandedRule::Calls positivePredicates_, negativePredicates_, addTags_, removeTags_,
      addMacros_, removeMacros_;
};

}  // namespace loomset
