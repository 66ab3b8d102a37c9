#include "runtime/macros/MOXApplicationMacros.h"

#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "loomset/platform/Platform.h"
#include "runtime/macros/MOXMacroValues.h"

namespace loomset {

const std::string& MOXAppId::functionId() {
  static const std::string id = "_ai";
  return id;
}
const std::string& MOXAppName::functionId() {
  static const std::string id = "_an";
  return id;
}
const std::string& MOXAppVersion::functionId() {
  static const std::string id = "_av";
  return id;
}

ValuePtr MOXAppId::evaluate(const MOXParameterMap&) {
  return macrovalues::platformText(Platform::current()->application.identifier);
}

ValuePtr MOXAppName::evaluate(const MOXParameterMap&) {
  const auto platform = Platform::current();
  const ApplicationInfo& application = platform->application;
  const std::string& name = application.name.empty() ? application.identifier : application.name;
  if (name.empty()) {
    MOXLog::error("Application name cannot be retrieved.");
    return MOXTypes::defaultValue();
  }
  return macrovalues::stringValue(name);
}

ValuePtr MOXAppVersion::evaluate(const MOXParameterMap&) {
  return macrovalues::platformText(Platform::current()->application.shortVersion);
}

}  // namespace loomset
