#include "runtime/MOXEvaluationBudget.h"

#include <vector>

#include "loomset/MOXRuntime.h"

namespace loomset {
namespace {

// The nodes of the tree under `value`, or `cap + 1` when it holds more than `cap`.
std::uint64_t countNodes(const MOXPValue& value, std::uint64_t cap) {
  std::uint64_t count = 0;
  std::vector<const MOXPValue*> pending{&value};
  while (!pending.empty()) {
    const MOXPValue* next = pending.back();
    pending.pop_back();
    if (++count > cap) return count;
    for (const MOXPValue& item : next->list_item()) pending.push_back(&item);
    for (const MOXPValue& key : next->map_key()) pending.push_back(&key);
    for (const MOXPValue& mapped : next->map_value()) pending.push_back(&mapped);
    for (const MOXPValue& token : next->template_token()) pending.push_back(&token);
  }
  return count;
}

}  // namespace

bool MOXEvaluationBudget::chargePart(const MOXPValue& part) {
  const bool leaf = part.list_item_size() == 0 && part.map_key_size() == 0 &&
                    part.map_value_size() == 0 && part.template_token_size() == 0;
  if (leaf) return charge(1);
  const std::uint64_t left =
      used_ < MOXRuntime::kMaxEvaluatedNodes ? MOXRuntime::kMaxEvaluatedNodes - used_ : 0;
  return charge(countNodes(part, left));
}

bool MOXEvaluationBudget::charge(std::uint64_t nodes) {
  used_ += nodes;
  return used_ <= MOXRuntime::kMaxEvaluatedNodes;
}

bool MOXEvaluationBudget::firstRefusal() {
  if (refused_) return false;
  refused_ = true;
  return true;
}

}  // namespace loomset
