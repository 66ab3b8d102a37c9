#include "runtime/macros/MOXJoinerMacro.h"

#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "runtime/macros/MOXMacroValues.h"
#include "values/MOXValueEscapeUtil.h"

namespace loomset {
namespace {

// Appends a Value's text form escaped, without copying the text of a plain String Value.
void appendEscaped(const MOXPValue& value, MOXJoinerMacro::EscapeType type,
                   const std::vector<std::string>& chars, std::string& out) {
  if (macrovalues::isPlainString(value)) {
    MOXJoinerMacro::escape(value.string(), type, chars, out);
  } else {
    MOXJoinerMacro::escape(MOXTypes::valueToString(&value)->text(), type, chars, out);
  }
}

// The length of the UTF-8 sequence starting at `text[i]`; a stray byte counts as one character.
std::size_t characterLength(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length = 1;
  if (lead >= 0xF0 && lead <= 0xF7) {
    length = 4;
  } else if (lead >= 0xE0) {
    length = lead <= 0xEF ? 3 : 1;
  } else if (lead >= 0xC0) {
    length = 2;
  }
  if (i + length > text.size()) return 1;
  for (std::size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

}  // namespace

const std::string& MOXJoinerMacro::functionId() {
  static const std::string id = "_jn";
  return id;
}
const std::string& MOXJoinerMacro::arg0Key() {
  static const std::string key = "arg0";
  return key;
}
const std::string& MOXJoinerMacro::itemSeparatorKey() {
  static const std::string key = "item_separator";
  return key;
}
const std::string& MOXJoinerMacro::keyValueSeparatorKey() {
  static const std::string key = "key_value_separator";
  return key;
}
const std::string& MOXJoinerMacro::escapeKey() {
  static const std::string key = "escape";
  return key;
}

std::vector<std::string> MOXJoinerMacro::charsToBackslashEscape(
    std::string_view itemSeparator, std::string_view keyValueSeparator) {
  std::vector<std::string> chars;
  for (std::string_view separator : {itemSeparator, keyValueSeparator}) {
    for (std::size_t i = 0; i < separator.size();) {
      const std::size_t length = characterLength(separator, i);
      std::string c(separator.substr(i, length));
      i += length;
      if (c == "\\") continue;
      bool known = false;
      for (const std::string& k : chars) known = known || k == c;
      if (!known) chars.push_back(std::move(c));
    }
  }
  return chars;
}

void MOXJoinerMacro::escape(std::string_view text, EscapeType type,
                            const std::vector<std::string>& charsToBackslashEscape,
                            std::string& out) {
  switch (type) {
    case EscapeType::None:
      out.append(text);
      return;
    case EscapeType::Url:
      out.append(MOXValueEscapeUtil::urlEncode(text));
      return;
    case EscapeType::Backslash:
      for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = characterLength(text, i);
        const std::string_view c = text.substr(i, length);
        i += length;
        bool guarded = c == "\\";
        for (const std::string& k : charsToBackslashEscape) guarded = guarded || k == c;
        if (guarded) out.push_back('\\');
        out.append(c);
      }
      return;
  }
}

ValuePtr MOXJoinerMacro::evaluate(const MOXParameterMap& parameters) {
  const ValuePtr* arg0 = parameters.find(arg0Key());
  if (!arg0 || !*arg0) return MOXTypes::defaultValue();

  std::string itemSeparator, keyValueSeparator = "=";
  if (const ValuePtr* value = parameters.find(itemSeparatorKey())) {
    itemSeparator = macrovalues::text(*value);
  }
  if (const ValuePtr* value = parameters.find(keyValueSeparatorKey())) {
    keyValueSeparator = macrovalues::text(*value);
  }

  EscapeType type = EscapeType::None;
  std::vector<std::string> chars;
  if (const ValuePtr* value = parameters.find(escapeKey())) {
    const std::string mode = macrovalues::text(*value);
    if (mode == "url") {
      type = EscapeType::Url;
    } else if (mode == "backslash") {
      type = EscapeType::Backslash;
      chars = charsToBackslashEscape(itemSeparator, keyValueSeparator);
    } else {
      MOXLog::error("Joiner: unsupported escape type");
      return MOXTypes::defaultValue();
    }
  }

  const MOXPValue& subject = **arg0;
  std::string joined;
  if (subject.type() == MOXPValue::List) {
    bool first = true;
    for (const MOXPValue& item : subject.list_item()) {
      if (!first) joined.append(itemSeparator);
      first = false;
      appendEscaped(item, type, chars, joined);
    }
  } else if (subject.type() == MOXPValue::Map) {
    if (subject.map_key_size() != subject.map_value_size()) {
      MOXLog::error("Joiner: uneven map keys (" + std::to_string(subject.map_key_size()) +
                    ") and map values (" + std::to_string(subject.map_value_size()) + ")");
      return MOXTypes::defaultValue();
    }
    for (int i = 0; i < subject.map_key_size(); ++i) {
      if (i > 0) joined.append(itemSeparator);
      appendEscaped(subject.map_key(i), type, chars, joined);
      joined.append(keyValueSeparator);
      appendEscaped(subject.map_value(i), type, chars, joined);
    }
  } else {
    appendEscaped(subject, type, chars, joined);
  }
  return macrovalues::stringValue(std::move(joined));
}

}  // namespace loomset
