#include "runtime/macros/MOXAdvertiserId.h"

#include "loomset/MOXTypes.h"
#include "runtime/macros/MOXAdIdAccess.h"
#include "runtime/macros/MOXMacroValues.h"

namespace loomset {

const std::string& MOXAdvertiserId::functionId() {
  static const std::string id = "_adi";
  return id;
}
const std::string& MOXAdvertiserIdFixed::functionId() {
  static const std::string id = "_aid";
  return id;
}
const std::string& MOXMobileCliquetUniqueIdMacro::functionId() {
  static const std::string id = "_cqid";
  return id;
}
const std::string& MOXAdvertisingTrackingEnabledMacro::functionId() {
  static const std::string id = "_ate";
  return id;
}

ValuePtr MOXAdvertiserId::evaluate(const MOXParameterMap&) {
  std::string identifier = MOXAdIdAccess::retrieveId();
  if (identifier.empty()) return MOXTypes::defaultValue();
  return macrovalues::stringValue(std::move(identifier));
}

ValuePtr MOXAdvertisingTrackingEnabledMacro::evaluate(const MOXParameterMap&) {
  return macrovalues::booleanValue(MOXAdIdAccess::retrieveTrackingFlag());
}

}  // namespace loomset
