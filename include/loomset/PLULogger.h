// Loggers of the analytics half. Every message of the analytics half is one line
// "Kestrel 3.17 <method> (<file>:<line>): <message>" handed to the facade's current logger
// (`PLU::sharedLogger()`). `PLUDefaultLogger` writes to standard error; `PLULoggerImpl` routes
// analytics logging into the container half's `MOXLog`.
//
// Threads: loggers are called from any thread and must be thread-safe; both implementations are.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "loomset/Export.h"

namespace loomset {

// A message of a level is written when the logger's level is at least that level.
enum PLULogLevel : std::uint32_t {
  kPLULogLevelNone = 0,
  kPLULogLevelError = 1,
  kPLULogLevelWarning = 2,
  kPLULogLevelInfo = 3,
  kPLULogLevelVerbose = 4,
};

class LOOMSET_EXPORT PLULogger {
 public:
  virtual ~PLULogger() = default;
  virtual std::uint32_t logLevel() const = 0;
  virtual void setLogLevel(std::uint32_t level) = 0;
  virtual void verbose(const std::string& message) = 0;
  virtual void info(const std::string& message) = 0;
  virtual void warning(const std::string& message) = 0;
  virtual void error(const std::string& message) = 0;
};

// Writes "VERBOSE: ", "INFO: ", "WARNING: " or "ERROR: " + message to standard error. Starts at
// level warning.
class LOOMSET_EXPORT PLUDefaultLogger : public PLULogger {
 public:
  using Sink = void (*)(const std::string& line);
  PLUDefaultLogger() = default;
  explicit PLUDefaultLogger(Sink sink) : sink_(sink) {}

  std::uint32_t logLevel() const override { return level_.load(std::memory_order_relaxed); }
  void setLogLevel(std::uint32_t level) override { level_.store(level); }
  void verbose(const std::string& message) override;
  void info(const std::string& message) override;
  void warning(const std::string& message) override;
  void error(const std::string& message) override;

 private:
  void write(const char* prefix, const std::string& message);
  std::atomic<std::uint32_t> level_{kPLULogLevelWarning};
  Sink sink_ = nullptr;
};

// Forwards analytics logging to `MOXLog` at the same level names. Its level is the container
// logger's level, mapped; setting it changes nothing (the container logger's level rules).
class LOOMSET_EXPORT PLULoggerImpl : public PLULogger {
 public:
  std::uint32_t logLevel() const override;
  void setLogLevel(std::uint32_t level) override;
  void verbose(const std::string& message) override;
  void info(const std::string& message) override;
  void warning(const std::string& message) override;
  void error(const std::string& message) override;

  // Container levels 0 verbose, 1 debug, 2 info, 3 warning, 4 error, 5 none give 4, 4, 3, 2, 1,
  // 0; any other value gives 0.
  static std::uint32_t qzLogLevelFromWenLogLevel(std::uint32_t moxLevel);
};

}  // namespace loomset
