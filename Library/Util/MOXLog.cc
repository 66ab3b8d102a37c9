#include "loomset/MOXLog.h"

#include <cstdio>

#include "Library/Util/MOXLogErrorCapture.h"
#include "Library/Util/platform/CurrentLogger.h"

namespace loomset {

namespace {

void writeToStandardError(const std::string& line) {
  // One fwrite per line keeps lines from different threads whole.
  std::string out = line;
  out += '\n';
  std::fwrite(out.data(), 1, out.size(), stderr);
}

std::shared_ptr<MOXLogger> loadLogger() {
  return currentLogger();
}

}  // namespace

void MOXDefaultLogger::write(std::uint32_t level, const char* word, const std::string& message) {
  if (level_.load(std::memory_order_relaxed) > level) return;
  std::string line = "OrvexLoomset ";
  line += word;
  line += ": ";
  line += message;
  (sink_ ? sink_ : writeToStandardError)(line);
}

void MOXDefaultLogger::error(const std::string& m) {
  write(kMOXLogLevelError, "error", m);
}
void MOXDefaultLogger::warning(const std::string& m) {
  write(kMOXLogLevelWarning, "warning", m);
}
void MOXDefaultLogger::info(const std::string& m) {
  write(kMOXLogLevelInfo, "info", m);
}
void MOXDefaultLogger::debug(const std::string& m) {
  write(kMOXLogLevelDebug, "debug", m);
}
void MOXDefaultLogger::verbose(const std::string& m) {
  write(kMOXLogLevelVerbose, "verbose", m);
}

void MOXLog::error(const std::string& m) {
  MOXLogErrorCapture::noteError(m);
  loadLogger()->error(m);
}
void MOXLog::warning(const std::string& m) {
  loadLogger()->warning(m);
}
void MOXLog::info(const std::string& m) {
  loadLogger()->info(m);
}
void MOXLog::debug(const std::string& m) {
  loadLogger()->debug(m);
}
void MOXLog::verbose(const std::string& m) {
  loadLogger()->verbose(m);
}

void MOXLog::setLogger(std::shared_ptr<MOXLogger> logger) {
  setLoggerOfCurrentPlatform(std::move(logger));
}

std::shared_ptr<MOXLogger> MOXLog::logger() {
  return loadLogger();
}

bool MOXLog::enabled(std::uint32_t level) {
  return logLevel() <= level || (level >= kMOXLogLevelError && MOXLogErrorCapture::active());
}

std::uint32_t MOXLog::logLevel() {
  return loadLogger()->logLevel();
}

}  // namespace loomset
