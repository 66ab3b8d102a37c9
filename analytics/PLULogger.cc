#include "loomset/PLULogger.h"

#include <cstdio>

#include "loomset/MOXLog.h"

namespace loomset {

void PLUDefaultLogger::write(const char* prefix, const std::string& message) {
  const std::string line = prefix + message;
  if (sink_) {
    sink_(line);
    return;
  }
  std::fprintf(stderr, "%s\n", line.c_str());
}

void PLUDefaultLogger::verbose(const std::string& message) {
  if (logLevel() >= kPLULogLevelVerbose) write("VERBOSE: ", message);
}

void PLUDefaultLogger::info(const std::string& message) {
  if (logLevel() >= kPLULogLevelInfo) write("INFO: ", message);
}

void PLUDefaultLogger::warning(const std::string& message) {
  if (logLevel() >= kPLULogLevelWarning) write("WARNING: ", message);
}

void PLUDefaultLogger::error(const std::string& message) {
  if (logLevel() != kPLULogLevelNone) write("ERROR: ", message);
}

std::uint32_t PLULoggerImpl::qzLogLevelFromWenLogLevel(std::uint32_t moxLevel) {
  switch (moxLevel) {
    case kMOXLogLevelVerbose:
    case kMOXLogLevelDebug:
      return kPLULogLevelVerbose;
    case kMOXLogLevelInfo:
      return kPLULogLevelInfo;
    case kMOXLogLevelWarning:
      return kPLULogLevelWarning;
    case kMOXLogLevelError:
      return kPLULogLevelError;
    default:
      return kPLULogLevelNone;
  }
}

std::uint32_t PLULoggerImpl::logLevel() const {
  return qzLogLevelFromWenLogLevel(MOXLog::logLevel());
}

void PLULoggerImpl::setLogLevel(std::uint32_t) {
  MOXLog::warning("QZ uses WEN logger. Please use MOXManager.logger.logLevel instead.");
}

void PLULoggerImpl::verbose(const std::string& message) {
  MOXLog::verbose(message);
}
void PLULoggerImpl::info(const std::string& message) {
  MOXLog::info(message);
}
void PLULoggerImpl::warning(const std::string& message) {
  MOXLog::warning(message);
}
void PLULoggerImpl::error(const std::string& message) {
  MOXLog::error(message);
}

}  // namespace loomset
