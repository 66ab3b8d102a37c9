// Version texts, all cacheable:
//   "_ctv"  the version of the container resource the runtime was built from;
//   "_wenv" the library's version, kMOXManagerVersion;
//   "_rv"   the runtime's version number as an Integer Value, MOXRuntimeVersion::versionNumber.
#pragma once

#include <cstdint>
#include <string>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXContainerVersionMacro final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_ctv"
  explicit MOXContainerVersionMacro(std::string version);
  const std::string& version() const { return version_; }
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;

 private:
  const std::string version_;
};

class MOXWenVersionMacro final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_wenv"
  MOXWenVersionMacro() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

class MOXRuntimeVersion final : public MOXFunctionCallImplementation {
 public:
  static constexpr std::int64_t versionNumber = 107577340;
  static const std::string& functionId();  // "_rv"
  MOXRuntimeVersion() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
