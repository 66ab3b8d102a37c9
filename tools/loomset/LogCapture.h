// Collects what the library logs while it is in scope, instead of writing it, so a tool can
// report a failure's own message (for example why a resource did not expand) in its output.
//
// Threads: replaces the process-wide logger for its lifetime; meant for the tools' single thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "loomset/MOXLog.h"

namespace loomset::tools {

class ScopedLogCapture {
 public:
  ScopedLogCapture();
  ~ScopedLogCapture();
  ScopedLogCapture(const ScopedLogCapture&) = delete;
  ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

  // Error lines so far, oldest first.
  std::vector<std::string> errors() const;
  // The last error line, or `fallback` when there was none.
  std::string lastError(const std::string& fallback) const;

 private:
  class Recorder;
  std::shared_ptr<Recorder> recorder_;
  std::shared_ptr<MOXLogger> previous_;
};

}  // namespace loomset::tools
