// Any text handed to the JSON default-container path gives a resource of constant macros or
// NotSupportedException, and every constant it defines can be looked up.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "loomset/Exceptions.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXRuntime.h"
#include "loomset/MOXSerialization.h"
#include "loomset/MOXTypes.h"

namespace {

class SilentLogger : public loomset::MOXLogger {
 public:
  void error(const std::string&) override {}
  void warning(const std::string&) override {}
  void info(const std::string&) override {}
  void debug(const std::string&) override {}
  void verbose(const std::string&) override {}
  void setLogLevel(std::uint32_t) override {}
  std::uint32_t logLevel() const override { return loomset::kMOXLogLevelNone; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    loomset::MOXLog::setLogger(std::make_shared<SilentLogger>());
    return true;
  }();
  (void)quiet;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  loomset::MOXExpandedResourcePtr resource;
  try {
    resource = loomset::MOXSerialization::expandedResourceFromDeserializedObject(
        loomset::MOXSerialization::objectFromJson(text));
  } catch (const loomset::NotSupportedException&) {
    return 0;
  }
  auto runtime = loomset::MOXRuntime::runtimeWithResource(resource, nullptr, nullptr, nullptr);
  for (const auto& [name, calls] : resource->allMacros()) {
    loomset::MOXTypes::valueToString(runtime->evaluateMacroReference(name).value());
  }
  return 0;
}
