#include "runtime/macros/MOXTime.h"

#include "loomset/platform/Platform.h"
#include "runtime/macros/MOXMacroValues.h"

namespace loomset {

const std::string& MOXTime::functionId() {
  static const std::string id = "_t";
  return id;
}

ValuePtr MOXTime::evaluate(const MOXParameterMap&) {
  return macrovalues::integerValue(
      macrovalues::saturatingInt64(Platform::current()->clock->nowMillis()));
}

}  // namespace loomset
