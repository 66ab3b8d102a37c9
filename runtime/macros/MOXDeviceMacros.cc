#include "runtime/macros/MOXDeviceMacros.h"

#include "loomset/platform/Platform.h"
#include "runtime/macros/MOXMacroValues.h"

namespace loomset {

const std::string& MOXDeviceName::functionId() {
  static const std::string id = "_dn";
  return id;
}
const std::string& MOXOsVersion::functionId() {
  static const std::string id = "_ov";
  return id;
}
const std::string& MOXSdkVersion::functionId() {
  static const std::string id = "_sv";
  return id;
}
const std::string& MOXPlatform::functionId() {
  static const std::string id = "_p";
  return id;
}
const std::string& MOXPlatform::platformName() {
  static const std::string name = "iOS";
  return name;
}

ValuePtr MOXDeviceName::evaluate(const MOXParameterMap&) {
  return macrovalues::platformText(Platform::current()->device.model);
}

ValuePtr MOXOsVersion::evaluate(const MOXParameterMap&) {
  return macrovalues::platformText(Platform::current()->device.systemVersion);
}

ValuePtr MOXSdkVersion::evaluate(const MOXParameterMap&) {
  return macrovalues::platformText(Platform::current()->device.systemVersion);
}

ValuePtr MOXPlatform::evaluate(const MOXParameterMap&) {
  return macrovalues::stringValue(platformName());
}

}  // namespace loomset
