// The base of tags: implementations that do their work as a side effect and have no value. A
// tag is never cacheable, so it runs every time a rule selects it.
//
// Ownership: like every implementation, a tag is shared by the runtime that registered it.
// Threads: as for every implementation, `evaluateTrackingTag` runs on the thread that evaluates
// the event (the thread that pushed it to the data layer).
#pragma once

#include <string>
#include <vector>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class LOOMSET_EXPORT MOXTrackingTag : public MOXFunctionCallImplementation {
 public:
  using MOXFunctionCallImplementation::MOXFunctionCallImplementation;

  bool isCacheable() const final { return false; }
  // Runs `evaluateTrackingTag` and answers MOXTypes::defaultValue().
  ValuePtr evaluate(const MOXParameterMap& parameters) final;

 protected:
  virtual void evaluateTrackingTag(const MOXParameterMap& parameters) = 0;
};

}  // namespace loomset
