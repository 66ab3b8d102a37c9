// Facts about the application, from the platform bundle's ApplicationInfo, read when evaluated
// and cacheable (they do not change while the application runs):
//   "_ai"  the application's identifier;
//   "_an"  its display name, or its identifier when the name is empty; with neither, the error
//          "Application name cannot be retrieved." and MOXTypes::defaultValue();
//   "_av"  its short version text.
// An empty fact counts as one the platform does not know (MOXTypes::defaultValue()).
#pragma once

#include <string>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXAppId final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_ai"
  MOXAppId() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

class MOXAppName final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_an"
  MOXAppName() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

class MOXAppVersion final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_av"
  MOXAppVersion() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
