#include "values/MOXValueEscapeUtil.h"

#include <cstdint>

#include "Library/Util/PercentEncoding.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "loomset/Scalars.h"

namespace loomset {

namespace {

template <typename Codes>
MOXPValueAndStatic applyAll(const Codes& codes, const MOXPValueAndStatic& value) {
  MOXPValueAndStatic result = value;
  for (int code : codes) result = MOXValueEscapeUtil::applyEscaping(code, result);
  return result;
}

}  // namespace

MOXPValueAndStatic MOXValueEscapeUtil::applyEscapings(
    const google::protobuf::RepeatedField<int>& codes, const MOXPValueAndStatic& value) {
  return applyAll(codes, value);
}

MOXPValueAndStatic MOXValueEscapeUtil::applyEscapings(const std::vector<int>& codes,
                                                      const MOXPValueAndStatic& value) {
  return applyAll(codes, value);
}

MOXPValueAndStatic MOXValueEscapeUtil::applyEscaping(int code, const MOXPValueAndStatic& value) {
  if (!isValidStringType(value.value().get())) {
    MOXLog::error("Escaping can only be applied to strings.");
    return value;
  }
  if (code == MOXPValue::EscapeUri) return escapeUri(value);
  MOXLog::error("Unsupported Value Escaping: " + std::to_string(static_cast<long>(code)));
  return value;
}

MOXPValueAndStatic MOXValueEscapeUtil::escapeUri(const MOXPValueAndStatic& value) {
  const std::string text = value.value() ? value.value()->string() : std::string();
  ValuePtr escaped = MOXTypes::objectToValue(String::create(urlEncode(text)));
  return MOXPValueAndStatic::valueWithValue(std::move(escaped), value.isStatic());
}

bool MOXValueEscapeUtil::isValidStringType(const MOXPValue& value) {
  return value.has_type() && value.type() == MOXPValue::String && value.has_string();
}

std::string MOXValueEscapeUtil::urlEncode(std::string_view text) {
  return percentEncode(text);
}

std::optional<std::string> MOXValueEscapeUtil::urlDecode(std::string_view text) {
  return percentDecode(text);
}

}  // namespace loomset
