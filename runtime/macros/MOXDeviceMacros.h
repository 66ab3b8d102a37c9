// Facts about the device, from the platform bundle's DeviceInfo, read when evaluated and
// cacheable (they do not change while the application runs):
//   "_dn"  the device's model name;
//   "_ov"  the operating system's version;
//   "_sv"  the same text as "_ov";
//   "_p"   the constant text "iOS": the platform family containers were written for, which
//          container rules compare against.
// An empty fact counts as one the platform does not know (MOXTypes::defaultValue()).
#pragma once

#include <string>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXDeviceName final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_dn"
  MOXDeviceName() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

class MOXOsVersion final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_ov"
  MOXOsVersion() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

class MOXSdkVersion final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_sv"
  MOXSdkVersion() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

class MOXPlatform final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();    // "_p"
  static const std::string& platformName();  // "iOS"
  MOXPlatform() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
