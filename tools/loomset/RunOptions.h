// The options both modes of `loomset run` share: the data root (a given directory, created if
// missing, or a fresh temporary one removed when the run ends, so that trying a container never
// touches the user's real data) and the container log level.
#pragma once

#include <optional>
#include <string>

namespace loomset::tools {

class RunDataRoot {
 public:
  // Throws UsageError when the directory cannot be made.
  explicit RunDataRoot(const std::optional<std::string>& given);
  ~RunDataRoot();
  RunDataRoot(const RunDataRoot&) = delete;
  RunDataRoot& operator=(const RunDataRoot&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool owned_ = false;
};

// Sets the container log level named by --log-level (verbose, debug, info, warning, error,
// none); throws UsageError for another name. Nothing given changes nothing.
void applyContainerLogLevel(const std::optional<std::string>& name);

}  // namespace loomset::tools
