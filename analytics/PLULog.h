// Logging inside the analytics half: each message becomes one line
// "Kestrel 3.17 <function> (<file>:<line>): <message>" on the facade's current logger. The
// macros skip building the message when the logger would drop it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "loomset/PLULogger.h"

namespace loomset::plu_log {

// The process-wide slot behind `PLU::sharedLogger()`: a `PLUDefaultLogger` until replaced.
std::shared_ptr<PLULogger> sharedLogger();
void setSharedLogger(std::shared_ptr<PLULogger> logger);

bool enabled(std::uint32_t level);
void write(std::uint32_t level, const char* function, const char* file, int line,
           const std::string& message);
// The prefix of every analytics log line.
std::string linePrefix(const char* function, const char* file, int line);

}  // namespace loomset::plu_log

#define PLU_LOG_AT(level, message)                                               \
  do {                                                                           \
    if (::loomset::plu_log::enabled(level)) {                                    \
      ::loomset::plu_log::write(level, __func__, __FILE__, __LINE__, (message)); \
    }                                                                            \
  } while (0)

#define PLU_LOG_ERROR(message) PLU_LOG_AT(::loomset::kPLULogLevelError, message)
#define PLU_LOG_WARNING(message) PLU_LOG_AT(::loomset::kPLULogLevelWarning, message)
#define PLU_LOG_INFO(message) PLU_LOG_AT(::loomset::kPLULogLevelInfo, message)
#define PLU_LOG_VERBOSE(message) PLU_LOG_AT(::loomset::kPLULogLevelVerbose, message)
