#include "values/MOXValueEscapeUtil.h"

#include <cstdint>

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

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing beyond U+10FFFF.
bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (n - i < length) return false;
    const auto second = static_cast<unsigned char>(s[i + 1]);
    if (second < low || second > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      const auto next = static_cast<unsigned char>(s[i + k]);
      if (next < 0x80 || next > 0xBF) return false;
    }
    i += length;
  }
  return true;
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
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (isUnreserved(c)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::optional<std::string> MOXValueEscapeUtil::urlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (text.size() - i < 3) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (!isValidUtf8(out)) return std::nullopt;
  return out;
}

}  // namespace loomset
