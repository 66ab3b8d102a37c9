// How many Value nodes one evaluation has built so far. A resource of a few hundred bytes can
// describe an evaluation whose result doubles at every level (a list holding a reference to the
// level below twice), so every list, map and template an evaluation builds is charged here, each
// shared part at every place it appears, and the evaluation gives up past
// MOXRuntime::kMaxEvaluatedNodes. That bounds both the work and the size of what later walks the
// result (conversion, serialization, escaping).
#pragma once

#include <cstdint>

#include "loomset/MOXTypes.h"

namespace loomset {

class MOXEvaluationBudget {
 public:
  // Charges one node built by the evaluation; false once the limit is passed.
  bool chargeNode() { return charge(1); }
  // Charges a part placed into a built value, as many nodes as its tree holds; false once the
  // limit is passed. Counting stops at the limit, so it never costs more than the budget left.
  bool chargePart(const MOXPValue& part);
  // True the first time the limit was passed, so that one evaluation logs its failure once.
  bool firstRefusal();

 private:
  bool charge(std::uint64_t nodes);

  std::uint64_t used_ = 0;
  bool refused_ = false;
};

}  // namespace loomset
