// The steps of resource expansion that the values and runtime layers share and applications have
// no use for: building a Value on the pattern of another, reading the serving-value extension,
// and failing an expansion.
//
// Threads: stateless; any thread.
#pragma once

#include <memory>
#include <string>

#include "loomset/MOXPValue.h"
#include "loomset/proto/serving.pb.h"

namespace loomset {

class MOXResourceUtilSteps {
 public:
  // A new Value with the given one's kind and escapings, and containsReferences true when the
  // given one has it true (unset otherwise).
  static std::shared_ptr<MOXPValue> valueBuilderBasedOnValue(const MOXPValue& value);
  static void copyBasics(const MOXPValue& from, MOXPValue* to);

  // The serving-value extension of a value; raises when the value lacks it.
  static const MOXPServingValue& servingValue(const MOXPValue& value);

  // Logs the message as an error and raises InvalidResourceException ("Resource is invalid").
  [[noreturn]] static void logAndThrow(const std::string& message);
};

}  // namespace loomset
