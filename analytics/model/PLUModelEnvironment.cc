#include "analytics/model/PLUModelEnvironment.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <cmath>

#include "analytics/PLULog.h"
#include "loomset/PLUFields.h"

namespace loomset {
namespace {

std::string lowerCased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string machineName(const DeviceInfo& device) {
  if (!device.model.empty()) return device.model;
  struct utsname names {};
  if (uname(&names) == 0) return names.machine;
  return "";
}

}  // namespace

std::string PLUModelEnvironment::languageFrom(const std::vector<std::string>& preferred) {
  if (preferred.empty()) return "en";
  return lowerCased(preferred.front());
}

std::string PLUModelEnvironment::screenResolutionFrom(double width, double height, double scale) {
  // Pixel size, oriented as the logical bounds are.
  if (!(scale > 0)) scale = 1;
  const auto pixels = [scale](double points) {
    const double p = std::floor(points * scale);
    return std::isfinite(p) && p > 0 ? static_cast<long long>(p) : 0LL;
  };
  return std::to_string(pixels(width)) + "x" + std::to_string(pixels(height));
}

std::shared_ptr<const PLUModelEnvironment> PLUModelEnvironment::create(
    std::shared_ptr<const Platform> platform,
    std::shared_ptr<const PLUAdvertisingIdAccess> adIdAccess) {
  auto env = std::make_shared<PLUModelEnvironment>(Passkey{});
  env->platform_ = std::move(platform);
  const ApplicationInfo& app = env->platform_->application;
  const DeviceInfo& device = env->platform_->device;

  if (!app.name.empty()) {
    env->defaultParameters_[kPLUAppName] = app.name;
  } else if (!app.identifier.empty()) {
    env->defaultParameters_[kPLUAppName] = app.identifier;
  } else {
    PLU_LOG_WARNING("could not load application name or identifier.");
  }
  if (!app.shortVersion.empty()) env->defaultParameters_[kPLUAppVersion] = app.shortVersion;
  if (!app.identifier.empty()) env->defaultParameters_[kPLUAppId] = app.identifier;
  env->defaultParameters_[kPLUVersionField] = std::string(kPLUVersion);

  const bool hasAdIdAccess = adIdAccess && adIdAccess->isComplete();
  if (hasAdIdAccess) env->adIdAccess_ = std::move(adIdAccess);
  env->computed_.push_back({kPLULanguage, PLUComputedField::Language});
  if (hasAdIdAccess) {
    env->computed_.push_back({kPLUIdfa, PLUComputedField::Idfa});
    env->computed_.push_back({kPLUAdTargetingEnabled, PLUComputedField::AdTargetingEnabled});
  } else {
    PLU_LOG_VERBOSE("idfa class missing, won't collect idfa");
  }
  env->computed_.push_back({kPLUDeviceModelVersion, PLUComputedField::DeviceModelVersion});
  env->computed_.push_back({kPLUScreenResolution, PLUComputedField::ScreenResolution});
  env->computed_.push_back({kPLUPennonHitId, PLUComputedField::PennonId});
  env->computed_.push_back({kPLUCrc, PLUComputedField::Crc});
  env->computed_.push_back({kPLUClientId, PLUComputedField::ClientId});
  env->computed_.push_back({kPLUDataSource, PLUComputedField::DataSource});

  for (const auto& entry : env->computed_) env->requiredKeys_.push_back(entry.key);
  for (const auto& entry : env->defaultParameters_) env->requiredKeys_.push_back(entry.first);

  env->language_ = languageFrom(device.preferredLanguages);
  env->deviceModelVersion_ = machineName(device);
  env->screenResolution_ =
      screenResolutionFrom(device.screenWidth, device.screenHeight, device.screenScale);
  return env;
}

const PLUComputedField* PLUModelEnvironment::computedFieldForKey(std::string_view key) const {
  for (const auto& entry : computed_) {
    if (entry.key == key) return &entry.field;
  }
  return nullptr;
}

}  // namespace loomset
