// What every tracker model of one facade shares: the platform bundle, the default parameters
// taken from the application, the table of computed parameters (with the advertising-id rows
// only when an advertising-id access is registered) and the device values that never change
// while the process runs.
//
// Immutable after creation; shared freely across threads.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "loomset/PLUHitMap.h"
#include "loomset/platform/PLUAdvertisingIdAccess.h"
#include "loomset/platform/Platform.h"

namespace loomset {

enum class PLUComputedField {
  Language,
  Idfa,
  AdTargetingEnabled,
  DeviceModelVersion,
  ScreenResolution,
  PennonId,
  Crc,
  ClientId,
  DataSource,
};

class PLUModelEnvironment {
 public:
  struct ComputedEntry {
    std::string key;
    PLUComputedField field;
  };

  // `adIdAccess` may be null or incomplete: then hits have no "&idfa" and "&ate".
  static std::shared_ptr<const PLUModelEnvironment> create(
      std::shared_ptr<const Platform> platform,
      std::shared_ptr<const PLUAdvertisingIdAccess> adIdAccess);

  const Platform& platform() const { return *platform_; }
  const std::shared_ptr<const Platform>& platformPtr() const { return platform_; }
  // "&an", "&av", "&aid" as the application provides them, and "pluVersion".
  const PLUHitMap& defaultParameters() const { return defaultParameters_; }
  // Key and property, in the order the model evaluates them.
  const std::vector<ComputedEntry>& computedParameters() const { return computed_; }
  // The computed keys, then the default parameter keys.
  const std::vector<std::string>& requiredKeys() const { return requiredKeys_; }
  const PLUComputedField* computedFieldForKey(std::string_view key) const;
  // Null when no complete advertising-id access is registered.
  const PLUAdvertisingIdAccess* adIdAccess() const { return adIdAccess_.get(); }

  const std::string& language() const { return language_; }
  const std::string& deviceModelVersion() const { return deviceModelVersion_; }
  const std::string& screenResolution() const { return screenResolution_; }

  // Pure helpers behind the device values, for tests.
  static std::string languageFrom(const std::vector<std::string>& preferredLanguages);
  static std::string screenResolutionFrom(double width, double height, double scale);

 private:
  struct Passkey {};

 public:
  explicit PLUModelEnvironment(Passkey) {}

 private:
  std::shared_ptr<const Platform> platform_;
  std::shared_ptr<const PLUAdvertisingIdAccess> adIdAccess_;
  PLUHitMap defaultParameters_;
  std::vector<ComputedEntry> computed_;
  std::vector<std::string> requiredKeys_;
  std::string language_;
  std::string deviceModelVersion_;
  std::string screenResolution_;
};

}  // namespace loomset
