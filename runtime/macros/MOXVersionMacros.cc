#include "runtime/macros/MOXVersionMacros.h"

#include "loomset/MOXManagerVersion.h"
#include "runtime/macros/MOXMacroValues.h"

namespace loomset {

const std::string& MOXContainerVersionMacro::functionId() {
  static const std::string id = "_ctv";
  return id;
}
const std::string& MOXWenVersionMacro::functionId() {
  static const std::string id = "_wenv";
  return id;
}
const std::string& MOXRuntimeVersion::functionId() {
  static const std::string id = "_rv";
  return id;
}

MOXContainerVersionMacro::MOXContainerVersionMacro(std::string version)
    : MOXFunctionCallImplementation(functionId(), {}), version_(std::move(version)) {}

ValuePtr MOXContainerVersionMacro::evaluate(const MOXParameterMap&) {
  return macrovalues::stringValue(version_);
}

ValuePtr MOXWenVersionMacro::evaluate(const MOXParameterMap&) {
  return macrovalues::stringValue(kMOXManagerVersion);
}

ValuePtr MOXRuntimeVersion::evaluate(const MOXParameterMap&) {
  return macrovalues::integerValue(versionNumber);
}

}  // namespace loomset
