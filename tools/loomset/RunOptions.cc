#include "tools/loomset/RunOptions.h"

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <system_error>

#include "loomset/MOXLog.h"
#include "tools/loomset/Arguments.h"

namespace loomset::tools {

RunDataRoot::RunDataRoot(const std::optional<std::string>& given) {
  std::error_code ec;
  if (given) {
    path_ = *given;
    std::filesystem::create_directories(path_, ec);
    if (ec) throw UsageError("--data-dir " + path_ + ": " + ec.message());
    return;
  }
  std::string pattern = (std::filesystem::temp_directory_path(ec) / "loomset-run-XXXXXX").string();
  if (ec || !mkdtemp(pattern.data())) throw UsageError("cannot create a temporary data root");
  path_ = pattern;
  owned_ = true;
}

RunDataRoot::~RunDataRoot() {
  if (!owned_) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void applyContainerLogLevel(const std::optional<std::string>& name) {
  if (!name) return;
  static const std::map<std::string, std::uint32_t> levels = {
      {"verbose", kMOXLogLevelVerbose}, {"debug", kMOXLogLevelDebug}, {"info", kMOXLogLevelInfo},
      {"warning", kMOXLogLevelWarning}, {"error", kMOXLogLevelError}, {"none", kMOXLogLevelNone}};
  const auto it = levels.find(*name);
  if (it == levels.end()) {
    throw UsageError("--log-level takes verbose, debug, info, warning, error or none, not \"" +
                     *name + "\"");
  }
  MOXLog::logger()->setLogLevel(it->second);
}

}  // namespace loomset::tools
