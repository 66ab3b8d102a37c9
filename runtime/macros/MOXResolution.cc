#include "runtime/macros/MOXResolution.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "loomset/platform/Platform.h"
#include "runtime/macros/MOXMacroValues.h"

namespace loomset {
namespace {

std::int32_t pixels(double side) {
  const float rounded = std::ceil(static_cast<float>(side));
  if (!std::isfinite(rounded)) {
    if (std::isnan(rounded)) return 0;
    return rounded > 0 ? std::numeric_limits<std::int32_t>::max()
                       : std::numeric_limits<std::int32_t>::min();
  }
  // 2^31 is exactly representable as a float; every float below it fits.
  if (rounded >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
  if (rounded < -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(rounded);
}

}  // namespace

const std::string& MOXResolution::functionId() {
  static const std::string id = "_rs";
  return id;
}

std::string MOXResolution::resolutionText(double widthPoints, double heightPoints, double scale) {
  return std::to_string(pixels(widthPoints * scale)) + "x" +
         std::to_string(pixels(heightPoints * scale));
}

ValuePtr MOXResolution::evaluate(const MOXParameterMap&) {
  const auto platform = Platform::current();
  const DeviceInfo& device = platform->device;
  return macrovalues::stringValue(
      resolutionText(device.screenWidth, device.screenHeight, device.screenScale));
}

}  // namespace loomset
