#include "runtime/macros/MOXHashMacro.h"

#include <exception>

#include "Library/Util/MOXBase16.h"
#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "runtime/macros/MOXMacroValues.h"

namespace loomset {

const std::string& MOXHashMacro::functionId() {
  static const std::string id = "_hsh";
  return id;
}
const std::string& MOXHashMacro::arg0Key() {
  static const std::string key = "arg0";
  return key;
}
const std::string& MOXHashMacro::algorithmKey() {
  static const std::string key = "algorithm";
  return key;
}
const std::string& MOXHashMacro::inputFormatKey() {
  static const std::string key = "input_format";
  return key;
}

MOXHashMacro::MOXHashMacro() : MOXFunctionCallImplementation(functionId(), {arg0Key()}) {
  hashAlgorithms_.emplace("MD5", std::make_unique<MOXMD5HashAlgorithm>());
  hashAlgorithms_.emplace("SHA-1", std::make_unique<MOXSha1HashAlgorithm>());
  hashAlgorithms_.emplace("SHA-256", std::make_unique<MOXSha256HashAlgorithm>());
  hashAlgorithms_.emplace("SHA-384", std::make_unique<MOXSha384HashAlgorithm>());
  hashAlgorithms_.emplace("SHA-512", std::make_unique<MOXSha512HashAlgorithm>());
}

std::string MOXHashMacro::hash(std::string_view bytes, const std::string& algorithm) const {
  const auto found = hashAlgorithms_.find(algorithm);
  if (found == hashAlgorithms_.end()) {
    throw NoSuchAlgorithmException("Unknown algorithm" + algorithm);
  }
  return found->second->hashData(bytes);
}

ValuePtr MOXHashMacro::evaluate(const MOXParameterMap& parameters) {
  static const std::string kMD5 = "MD5";
  static const std::string kText = "text";
  static const std::string kBase16 = "base16";

  const ValuePtr* arg0 = macrovalues::presentParameter(parameters, arg0Key());
  if (!arg0) return MOXTypes::defaultValue();
  const std::string text = macrovalues::text(*arg0);
  const ValuePtr* algorithmValue = parameters.find(algorithmKey());
  const std::string algorithm = algorithmValue ? macrovalues::text(*algorithmValue) : kMD5;
  const ValuePtr* formatValue = parameters.find(inputFormatKey());
  const std::string format = formatValue ? macrovalues::text(*formatValue) : kText;

  std::string decoded;
  std::string_view bytes;
  if (format == kText) {
    bytes = text;
  } else if (format == kBase16) {
    try {
      decoded = MOXBase16::decode(text);
    } catch (const IllegalArgumentException&) {
      MOXLog::error("Hash: invalid input: " + text);
      return MOXTypes::defaultValue();
    }
    bytes = decoded;
  } else {
    MOXLog::error("Hash: unknown input format: " + format);
    return MOXTypes::defaultValue();
  }

  try {
    return macrovalues::stringValue(MOXBase16::encode(hash(bytes, algorithm)));
  } catch (const std::exception&) {
    MOXLog::error("Hash error. Algorithm: " + algorithm);
    return MOXTypes::defaultValue();
  }
}

}  // namespace loomset
