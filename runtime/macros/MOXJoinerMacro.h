// "_jn": "arg0" flattened into one text. The items of a List are joined with "item_separator"
// (default: nothing); the entries of a Map are written key, "key_value_separator" (default "="),
// value, and joined with the item separator; any other Value is its own text. "escape" "url"
// percent-encodes each item, key and value; "backslash" puts a backslash before every backslash
// and every character of the two separators; separators themselves are never escaped.
// Cacheable.
//
// Failures answer MOXTypes::defaultValue() with an error line: an "escape" other than the two
// ("Joiner: unsupported escape type"), a Map whose keys and values differ in number.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXJoinerMacro final : public MOXFunctionCallImplementation {
 public:
  enum class EscapeType { None, Url, Backslash };

  static const std::string& functionId();            // "_jn"
  static const std::string& arg0Key();               // "arg0"
  static const std::string& itemSeparatorKey();      // "item_separator"
  static const std::string& keyValueSeparatorKey();  // "key_value_separator"
  static const std::string& escapeKey();             // "escape"

  // The characters (UTF-8 sequences) backslash escaping guards: those of both separators, the
  // backslash aside (it is always doubled).
  static std::vector<std::string> charsToBackslashEscape(std::string_view itemSeparator,
                                                         std::string_view keyValueSeparator);
  // One item, key or value escaped; appended to `out`. Backslash escaping works on whole
  // characters, so a separator character never splits a character of the text.
  static void escape(std::string_view text, EscapeType type,
                     const std::vector<std::string>& charsToBackslashEscape, std::string& out);

  MOXJoinerMacro() : MOXFunctionCallImplementation(functionId(), {arg0Key()}) {}
  bool isCacheable() const override { return true; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
