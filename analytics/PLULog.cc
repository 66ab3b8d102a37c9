#include "analytics/PLULog.h"

#include <cstring>

#include "Library/Util/platform/Mutex.h"
#include "Library/Util/platform/NoDestructor.h"
#include "loomset/PLUFields.h"

namespace loomset::plu_log {
namespace {

struct LoggerSlot {
  Mutex mu;
  std::shared_ptr<PLULogger> logger GUARDED_BY(mu) = std::make_shared<PLUDefaultLogger>();
};

// Never destroyed: worker threads may log while the process exits.
LoggerSlot& slot() {
  static NoDestructor<LoggerSlot> s;
  return *s;
}

const char* baseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

}  // namespace

std::shared_ptr<PLULogger> sharedLogger() {
  auto& s = slot();
  MutexLock lock(s.mu);
  return s.logger;
}

void setSharedLogger(std::shared_ptr<PLULogger> logger) {
  auto& s = slot();
  MutexLock lock(s.mu);
  s.logger = std::move(logger);
}

bool enabled(std::uint32_t level) {
  if (level == kPLULogLevelNone) return false;
  auto logger = sharedLogger();
  return logger && logger->logLevel() >= level;
}

std::string linePrefix(const char* function, const char* file, int line) {
  std::string prefix;
  prefix.reserve(64);
  prefix.append(kPLUProduct).append(" ").append(kPLUVersion).append(" ");
  prefix.append(function).append(" (").append(baseName(file)).append(":");
  prefix.append(std::to_string(line)).append("): ");
  return prefix;
}

void write(std::uint32_t level, const char* function, const char* file, int line,
           const std::string& message) {
  auto logger = sharedLogger();
  if (!logger) return;
  const std::string text = linePrefix(function, file, line) + message;
  switch (level) {
    case kPLULogLevelError:
      logger->error(text);
      break;
    case kPLULogLevelWarning:
      logger->warning(text);
      break;
    case kPLULogLevelInfo:
      logger->info(text);
      break;
    default:
      logger->verbose(text);
      break;
  }
}

}  // namespace loomset::plu_log
