#include "analytics/store/PLUError.h"

#include "loomset/PLUFields.h"

namespace loomset {

std::string PLUError::localizedDescription() const {
  const auto it = userInfo.find(kLocalizedDescriptionKey);
  return it != userInfo.end() ? it->second : std::string();
}

PLUError PLUError::errorWithCode(long code, const std::string& description) {
  PLUError error;
  error.domain = kPLUErrorDomain;
  error.code = code;
  error.userInfo[kLocalizedDescriptionKey] = description;
  return error;
}

PLUError PLUError::errorWithCode(long code, const std::string& description,
                                 const std::string& failedFilePath) {
  PLUError error = errorWithCode(code, description);
  error.userInfo[kFilePathKey] = failedFilePath;
  return error;
}

PLUError PLUError::errorWithCode(long code, const std::string& description,
                                 std::shared_ptr<const PLUError> underlying) {
  PLUError error = errorWithCode(code, description);
  error.underlying = std::move(underlying);
  return error;
}

std::optional<std::string> PLUUtil::descriptionFromException(const PLUExceptionInfo* exception) {
  if (!exception) return std::nullopt;
  return PLUExceptionParser::exceptionDescription(*exception, 150);
}

std::optional<std::string> PLUUtil::descriptionFromError(const PLUError* error) {
  if (!error) return std::nullopt;
  return error->domain + " " + std::to_string(error->code) + ": " + error->localizedDescription();
}

}  // namespace loomset
