// Escapings applied to the result of a macro reference, and the percent-encoding that the pixel
// tag and the click-referrer parsing use as well.
//
// Stateless; every operation may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <google/protobuf/repeated_field.h>

#include "loomset/Export.h"
#include "loomset/MOXObjectAndStatic.h"
#include "loomset/MOXPValue.h"

namespace loomset {

class LOOMSET_EXPORT MOXValueEscapeUtil {
 public:
  // Applies the codes in order, each to the previous result; an empty list gives the input.
  static MOXPValueAndStatic applyEscapings(const google::protobuf::RepeatedField<int>& codes,
                                           const MOXPValueAndStatic& value);
  static MOXPValueAndStatic applyEscapings(const std::vector<int>& codes,
                                           const MOXPValueAndStatic& value);
  // Only EscapeUri is carried out; other codes, and Values that are not strings, log an error and
  // give the input back unchanged.
  static MOXPValueAndStatic applyEscaping(int code, const MOXPValueAndStatic& value);
  // A new String Value with the percent-encoded text; the static flag is kept.
  static MOXPValueAndStatic escapeUri(const MOXPValueAndStatic& value);

  // True for a Value whose kind is set to String and whose text is set.
  static bool isValidStringType(const MOXPValue& value);
  static bool isValidStringType(const MOXPValue* value) {
    return value && isValidStringType(*value);
  }

  // Percent-encodes every byte except ASCII letters, digits and "-._~", with upper-case hex.
  static std::string urlEncode(std::string_view text);
  // Replaces every "%XX" by its byte. Nothing when an escape is malformed or the decoded bytes are
  // not valid UTF-8. A "+" stays a "+".
  static std::optional<std::string> urlDecode(std::string_view text);
};

}  // namespace loomset
