// Shared by the fuzz targets: loggers that drop every line (a fuzz run logs millions of
// refusals), installed once per process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "analytics/PLULog.h"
#include "loomset/MOXLog.h"
#include "loomset/PLULogger.h"

namespace loomset::fuzzing {

class SilentMOXLogger : public MOXLogger {
 public:
  void error(const std::string&) override {}
  void warning(const std::string&) override {}
  void info(const std::string&) override {}
  void debug(const std::string&) override {}
  void verbose(const std::string&) override {}
  void setLogLevel(std::uint32_t) override {}
  std::uint32_t logLevel() const override { return kMOXLogLevelNone; }
};

class SilentPLULogger : public PLULogger {
 public:
  std::uint32_t logLevel() const override { return kPLULogLevelNone; }
  void setLogLevel(std::uint32_t) override {}
  void verbose(const std::string&) override {}
  void info(const std::string&) override {}
  void warning(const std::string&) override {}
  void error(const std::string&) override {}
};

inline void silenceLogs() {
  static const bool silenced = [] {
    MOXLog::setLogger(std::make_shared<SilentMOXLogger>());
    plu_log::setSharedLogger(std::make_shared<SilentPLULogger>());
    return true;
  }();
  (void)silenced;
}

inline std::string_view textOf(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace loomset::fuzzing
