// Logging of the container half. `MOXLog` forwards every message to the `MOXLogger` of the
// platform bundle in force (`Platform::logger`); by default that is one process-wide
// `MOXDefaultLogger` at level warning, writing to standard error one line per message:
// "OrvexLoomset error: <message>" and the like. Install your own logger in the bundle, or with
// `MOXLog::setLogger`, which installs a bundle like the current one with that logger (so a bundle
// installed later brings its own logger again).
//
// Threads: any thread may log. Replacing the logger is safe while others log.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "loomset/Export.h"

namespace loomset {

// 0 verbose, 1 debug, 2 info, 3 warning, 4 error, 5 none. A message of level L is written when
// the logger's level is at most L.
enum MOXLogLevel : std::uint32_t {
  kMOXLogLevelVerbose = 0,
  kMOXLogLevelDebug = 1,
  kMOXLogLevelInfo = 2,
  kMOXLogLevelWarning = 3,
  kMOXLogLevelError = 4,
  kMOXLogLevelNone = 5,
};

class LOOMSET_EXPORT MOXLogger {
 public:
  virtual ~MOXLogger() = default;
  virtual void error(const std::string& message) = 0;
  virtual void warning(const std::string& message) = 0;
  virtual void info(const std::string& message) = 0;
  virtual void debug(const std::string& message) = 0;
  virtual void verbose(const std::string& message) = 0;
  virtual void setLogLevel(std::uint32_t level) = 0;
  virtual std::uint32_t logLevel() const = 0;
};

// Writes passing messages as "OrvexLoomset <level>: <message>" lines to a sink (standard error
// unless another is given).
class LOOMSET_EXPORT MOXDefaultLogger : public MOXLogger {
 public:
  using Sink = void (*)(const std::string& line);
  MOXDefaultLogger() = default;
  explicit MOXDefaultLogger(Sink sink) : sink_(sink) {}

  void error(const std::string& message) override;
  void warning(const std::string& message) override;
  void info(const std::string& message) override;
  void debug(const std::string& message) override;
  void verbose(const std::string& message) override;
  void setLogLevel(std::uint32_t level) override { level_.store(level); }
  std::uint32_t logLevel() const override { return level_.load(); }

 private:
  void write(std::uint32_t level, const char* word, const std::string& message);
  std::atomic<std::uint32_t> level_{kMOXLogLevelWarning};
  Sink sink_ = nullptr;
};

class LOOMSET_EXPORT MOXLog {
 public:
  static void error(const std::string& message);
  static void warning(const std::string& message);
  static void info(const std::string& message);
  static void debug(const std::string& message);
  static void verbose(const std::string& message);

  // Null is ignored.
  static void setLogger(std::shared_ptr<MOXLogger> logger);
  static std::shared_ptr<MOXLogger> logger();
  static std::uint32_t logLevel();
  // True when a message of this level would be written (or, for errors, is being kept by the
  // library to explain a value); lets callers skip building texts.
  static bool enabled(std::uint32_t level);
};

}  // namespace loomset
