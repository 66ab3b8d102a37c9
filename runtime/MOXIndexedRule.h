// A rule as one runtime evaluates it: its predicate and tag calls by ordinal in the resource's
// call table (MOXExpandedResource::ordinalOf), so that evaluation reaches the runtime's own
// entries for those calls without a lookup.
#pragma once

#include <cstddef>
#include <vector>

#include "loomset/MOXExpandedResource.h"

namespace loomset {

struct MOXIndexedRule {
  using Ordinals = std::vector<std::size_t>;

  // `resource` must reach every call of `rule` (it does for its own rules).
  MOXIndexedRule(const MOXExpandedRule& rule, const MOXExpandedResource& resource)
      : rule(&rule),
        positivePredicates(ordinals(rule.positivePredicates(), resource)),
        negativePredicates(ordinals(rule.negativePredicates(), resource)),
        addTags(ordinals(rule.addTags(), resource)),
        removeTags(ordinals(rule.removeTags(), resource)) {}

  static Ordinals ordinals(const MOXExpandedRule::Calls& calls,
                           const MOXExpandedResource& resource) {
    Ordinals result;
    result.reserve(calls.size());
    for (const auto& call : calls) {
      if (call) result.push_back(resource.ordinalOf(*call));
    }
    return result;
  }

  const MOXExpandedRule* rule;
  const Ordinals positivePredicates;
  const Ordinals negativePredicates;
  const Ordinals addTags;
  const Ordinals removeTags;
};

}  // namespace loomset
