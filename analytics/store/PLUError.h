// Errors of the analytics half, in the domain "com.orvex.kestrel.error", and the short texts the
// analytics half logs for errors and exceptions.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "analytics/crash/PLUExceptionParser.h"

namespace loomset {

struct PLUError {
  // The platform's standard user-info keys.
  static constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
  static constexpr const char* kFilePathKey = "NSFilePath";
  static constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";

  std::string domain;
  long code = 0;
  std::map<std::string, std::string> userInfo;
  std::shared_ptr<const PLUError> underlying;

  std::string localizedDescription() const;

  static PLUError errorWithCode(long code, const std::string& description);
  static PLUError errorWithCode(long code, const std::string& description,
                                const std::string& failedFilePath);
  static PLUError errorWithCode(long code, const std::string& description,
                                std::shared_ptr<const PLUError> underlying);
};

class PLUUtil {
 public:
  // The exception's description cut to 150 characters; nothing for no exception.
  static std::optional<std::string> descriptionFromException(const PLUExceptionInfo* exception);
  // "<domain> <code>: <localized description>"; nothing for no error.
  static std::optional<std::string> descriptionFromError(const PLUError* error);
};

}  // namespace loomset
