#include "runtime/macros/MOXEncode.h"

#include <optional>
#include <string_view>

#include "Library/Util/MOXBase16.h"
#include "Library/Util/MOXBase64Encoder.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "runtime/macros/MOXMacroValues.h"

namespace loomset {
namespace {

const std::string& formatOr(const MOXParameterMap& parameters, const std::string& key,
                            const std::string& fallback, std::string& storage) {
  const ValuePtr* value = parameters.find(key);
  if (!value) return fallback;
  if (*value && macrovalues::isPlainString(**value)) return (*value)->string();
  storage = macrovalues::text(*value);
  return storage;
}

}  // namespace

const std::string& MOXEncode::functionId() {
  static const std::string id = "_enc";
  return id;
}
const std::string& MOXEncode::arg0Key() {
  static const std::string key = "arg0";
  return key;
}
const std::string& MOXEncode::noPaddingKey() {
  static const std::string key = "no_padding";
  return key;
}
const std::string& MOXEncode::inputFormatKey() {
  static const std::string key = "input_format";
  return key;
}
const std::string& MOXEncode::outputFormatKey() {
  static const std::string key = "output_format";
  return key;
}

ValuePtr MOXEncode::evaluate(const MOXParameterMap& parameters) {
  static const std::string kText = "text";
  static const std::string kBase16 = "base16";
  static const std::string kBase64 = "base64";
  static const std::string kBase64Url = "base64url";

  const ValuePtr* arg0 = parameters.find(arg0Key());
  if (!arg0) return MOXTypes::defaultValue();
  const std::string text = macrovalues::text(*arg0);
  if (text.empty()) return MOXTypes::defaultValue();

  std::string inputStorage, outputStorage;
  const std::string& in = formatOr(parameters, inputFormatKey(), kText, inputStorage);
  const std::string& out = formatOr(parameters, outputFormatKey(), kBase16, outputStorage);
  bool noPadding = false;
  if (const ValuePtr* flag = parameters.find(noPaddingKey())) {
    noPadding = MOXTypes::valueToBoolean(*flag)->boolValue();
  }

  std::string decodedStorage;
  std::string_view bytes;
  if (in == kText) {
    bytes = text;
  } else if (in == kBase16) {
    try {
      decodedStorage = MOXBase16::decode(text);
    } catch (const IllegalArgumentException&) {
      MOXLog::error("Encode: invalid input: " + text);
      return MOXTypes::defaultValue();
    }
    bytes = decodedStorage;
  } else if (in == kBase64 || in == kBase64Url) {
    std::optional<std::string> decoded = in == kBase64
                                             ? MOXBase64Encoder::decode(text, noPadding)
                                             : MOXBase64Encoder::decodeWebSafe(text, noPadding);
    // Text that is not base64 decodes to no bytes, and no bytes encode as the empty text.
    if (decoded) decodedStorage = std::move(*decoded);
    bytes = decodedStorage;
  } else {
    MOXLog::error("Encode: unknown input format: " + in);
    return MOXTypes::defaultValue();
  }

  if (out == kBase16) return macrovalues::stringValue(MOXBase16::encode(bytes));
  if (out == kBase64) return macrovalues::stringValue(MOXBase64Encoder::encode(bytes, noPadding));
  if (out == kBase64Url) {
    return macrovalues::stringValue(MOXBase64Encoder::encodeWebSafe(bytes, noPadding));
  }
  MOXLog::error("Encode: unknown output format: " + out);
  return MOXTypes::defaultValue();
}

}  // namespace loomset
