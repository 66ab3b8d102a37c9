// Any bytes handed to the resource parser and expansion give a valid expanded resource or
// InvalidResourceException. A resource that expands is then evaluated: every macro is looked up
// and tags are evaluated for an event, which must neither crash nor hang.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "loomset/Exceptions.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXResourceUtil.h"
#include "loomset/MOXRuntime.h"

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
  loomset::MOXExpandedResourcePtr resource;
  try {
    resource = loomset::MOXResourceUtil::expandResourceFromBytes(
        std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const loomset::InvalidResourceException&) {
    return 0;
  }
  auto runtime = loomset::MOXRuntime::runtimeWithResource(resource, loomset::MOXDataLayer::create(),
                                                          nullptr, nullptr);
  for (const auto& [name, calls] : resource->allMacros()) runtime->evaluateMacroReference(name);
  runtime->evaluateTags("event");
  return 0;
}
