// The advertising-identifier macros. "_adi", "_aid" and "_cqid" answer the identifier's text, or
// MOXTypes::defaultValue() (silently) when there is none; "_ate" answers a Boolean Value, false
// without a provider. All four are cacheable: the identifier is fixed while the runtime lives.
#pragma once

#include <string>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXAdvertiserId : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_adi"

  MOXAdvertiserId() : MOXAdvertiserId(functionId()) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;

 protected:
  explicit MOXAdvertiserId(const std::string& functionId)
      : MOXFunctionCallImplementation(functionId, {}) {}
};

class MOXAdvertiserIdFixed final : public MOXAdvertiserId {
 public:
  static const std::string& functionId();  // "_aid"
  MOXAdvertiserIdFixed() : MOXAdvertiserId(functionId()) {}
};

class MOXMobileCliquetUniqueIdMacro final : public MOXAdvertiserId {
 public:
  static const std::string& functionId();  // "_cqid"
  MOXMobileCliquetUniqueIdMacro() : MOXAdvertiserId(functionId()) {}
};

class MOXAdvertisingTrackingEnabledMacro final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_ate"

  MOXAdvertisingTrackingEnabledMacro() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
