// "_enc": "arg0" re-encoded between forms. "input_format" is "text" (the default: the text's
// UTF-8 bytes), "base16", "base64" or "base64url"; "output_format" is "base16" (the default,
// upper-case), "base64" or "base64url"; "no_padding" true drops the "=" padding of base64 forms
// on both sides. Cacheable.
//
// Failures answer MOXTypes::defaultValue(): an empty or missing "arg0" silently; an unknown
// input or output format, and malformed base16 input, with an error line. Malformed base64 input
// decodes to no bytes and therefore answers the empty text.
#pragma once

#include <string>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXEncode final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();       // "_enc"
  static const std::string& arg0Key();          // "arg0"
  static const std::string& noPaddingKey();     // "no_padding"
  static const std::string& inputFormatKey();   // "input_format"
  static const std::string& outputFormatKey();  // "output_format"

  MOXEncode() : MOXFunctionCallImplementation(functionId(), {arg0Key()}) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
