#include "foundation/PropertyListConversion.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "loomset/Objects.h"
#include "loomset/platform/Clock.h"

namespace loomset {

namespace {

// Deeper nesting is refused rather than risking the stack on a hostile file.
constexpr int kMaxDepth = 256;

struct PlistFree {
  void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

plist_t toPlist(const ObjectPtr& object, int depth, std::string* error) {
  if (!object) {
    *error = "nil object";
    return nullptr;
  }
  if (depth > kMaxDepth) {
    *error = "nesting too deep";
    return nullptr;
  }
  switch (object->kind()) {
    case ObjectKind::String:
      return plist_new_string(asString(object)->text().c_str());
    case ObjectKind::Boolean:
      return plist_new_bool(asBoolean(object)->boolValue() ? 1 : 0);
    case ObjectKind::Number: {
      const Number* n = asNumber(object);
      if (n->numberType() == NumberType::Bool) return plist_new_bool(n->boolValue() ? 1 : 0);
      if (n->isFloatingKind()) return plist_new_real(n->doubleValue());
      if (n->numberType() == NumberType::UnsignedLongLong) {
        return plist_new_uint(n->unsignedLongLongValue());
      }
      return plist_new_uint(static_cast<std::uint64_t>(n->longLongValue()));
    }
    case ObjectKind::Data: {
      const auto& bytes = static_cast<const Data&>(*object).bytes();
      return plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    case ObjectKind::Date: {
      const double since2001 = static_cast<const Date&>(*object).timeIntervalSince1970() -
                               Clock::kReferenceDateOffsetSeconds;
      if (!std::isfinite(since2001) || std::fabs(since2001) > 2.0e9) {
        *error = "date out of range";
        return nullptr;
      }
      double whole = std::floor(since2001);
      auto usec = static_cast<std::int32_t>(std::lround((since2001 - whole) * 1e6));
      if (usec >= 1000000) {
        whole += 1;
        usec -= 1000000;
      }
      return plist_new_date(static_cast<std::int32_t>(whole), usec);
    }
    case ObjectKind::Array: {
      PlistPtr array(plist_new_array());
      for (const auto& item : asArray(object)->items()) {
        plist_t child = toPlist(item, depth + 1, error);
        if (!child) return nullptr;
        plist_array_append_item(array.get(), child);
      }
      return array.release();
    }
    case ObjectKind::Dictionary: {
      PlistPtr dict(plist_new_dict());
      for (const auto& [key, value] : asDictionary(object)->entries()) {
        const String* text = asString(key);
        if (!text) {
          *error = "dictionary key of class " + key->className() + " is not a string";
          return nullptr;
        }
        plist_t child = toPlist(value, depth + 1, error);
        if (!child) return nullptr;
        plist_dict_set_item(dict.get(), text->text().c_str(), child);
      }
      return dict.release();
    }
    default:
      *error = "object of class " + object->className() + " cannot be stored in a property list";
      return nullptr;
  }
}

// Whether the tree nests no deeper than `levels` below `node`; walks no deeper than that itself.
bool nestsWithin(plist_t node, int levels) {
  const plist_type type = plist_get_node_type(node);
  if (type != PLIST_ARRAY && type != PLIST_DICT) return true;
  if (levels <= 0) {  // an empty one is still within
    return (type == PLIST_ARRAY ? plist_array_get_size(node) : plist_dict_get_size(node)) == 0;
  }
  if (type == PLIST_ARRAY) {
    const std::uint32_t n = plist_array_get_size(node);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!nestsWithin(plist_array_get_item(node, i), levels - 1)) return false;
    }
    return true;
  }
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(node, &it);
  if (!it) return true;
  bool within = true;
  for (;;) {
    plist_t value = nullptr;
    plist_dict_next_item(node, it, nullptr, &value);
    if (!value) break;
    if (!nestsWithin(value, levels - 1)) {
      within = false;
      break;
    }
  }
  std::free(it);
  return within;
}

// libplist's key getter asserts that a key holds no NUL byte, which stops the process on a damaged
// or hostile file, and it has no in-place reader for keys. Its XML writer copies a key's bytes
// as they are, NULs included, escaping only "&", "<" and ">": so one XML rendering of the whole
// document tells whether any text in it holds a NUL, and for such documents each key is read
// from its own rendering, up to its first NUL byte (as strings are). The writer recurses without
// a limit: only trees within the reading's own depth limit are rendered.
bool renderingHoldsNul(plist_t node) {
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(node, &xml, &length);
  if (!xml) return true;  // unknown: take the careful path
  const bool nul = std::memchr(xml, 0, length) != nullptr;
  plist_to_xml_free(xml);
  return nul;
}

std::string keyTextFromRendering(plist_t key) {
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(key, &xml, &length);
  if (!xml) return std::string();
  const std::string_view rendering(xml, length);
  std::string text;
  const std::size_t open = rendering.find("<key>");
  if (open != std::string_view::npos) {
    for (std::size_t i = open + 5; i < rendering.size() && rendering[i] != '\0';) {
      const std::string_view rest = rendering.substr(i);
      if (rest.substr(0, 6) == "</key>") break;
      if (rest.substr(0, 5) == "&amp;") {
        text += '&';
        i += 5;
      } else if (rest.substr(0, 4) == "&lt;") {
        text += '<';
        i += 4;
      } else if (rest.substr(0, 4) == "&gt;") {
        text += '>';
        i += 4;
      } else {
        text += rendering[i++];
      }
    }
  }
  plist_to_xml_free(xml);
  return text;
}

ObjectPtr fromPlist(plist_t node, int depth, bool keysMayHoldNul, std::string* error) {
  if (depth > kMaxDepth) {
    *error = "nesting too deep";
    return nullptr;
  }
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t v = 0;
      plist_get_bool_val(node, &v);
      return Number::platformBool(v != 0);
    }
    case PLIST_UINT:
    case PLIST_UID: {
      std::uint64_t v = 0;
      if (plist_get_node_type(node) == PLIST_UID) {
        plist_get_uid_val(node, &v);
      } else {
        plist_get_uint_val(node, &v);
      }
      return Number::int64(static_cast<std::int64_t>(v));
    }
    case PLIST_REAL: {
      double v = 0;
      plist_get_real_val(node, &v);
      return Number::float64(v);
    }
    case PLIST_STRING: {
      // Up to the first NUL byte, read in place: libplist's copying getter asserts that the text
      // holds no NUL and so stops the process on such a (damaged or hostile) file, and the
      // length it records may reach past the text its parser kept.
      std::uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      return String::create(text ? std::string(text, ::strnlen(text, length)) : std::string());
    }
    case PLIST_KEY: {
      if (keysMayHoldNul) return String::create(keyTextFromRendering(node));
      char* text = nullptr;
      plist_get_key_val(node, &text);
      std::string value = text ? text : "";
      std::free(text);
      return String::create(std::move(value));
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      std::uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      std::vector<std::uint8_t> value(bytes, bytes + (bytes ? length : 0));
      std::free(bytes);
      return std::make_shared<Data>(std::move(value));
    }
    case PLIST_DATE: {
      std::int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return std::make_shared<Date>(sec + usec / 1e6 + Clock::kReferenceDateOffsetSeconds);
    }
    case PLIST_ARRAY: {
      auto array = Array::create();
      const std::uint32_t n = plist_array_get_size(node);
      for (std::uint32_t i = 0; i < n; ++i) {
        ObjectPtr item = fromPlist(plist_array_get_item(node, i), depth + 1, keysMayHoldNul, error);
        if (!item) return nullptr;
        array->addObject(std::move(item));
      }
      return array;
    }
    case PLIST_DICT: {
      auto dict = Dictionary::create();
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      if (!it) return dict;
      ObjectPtr result = dict;
      for (;;) {
        // The iterator's own copy of the key is the asserting getter: keys are read here.
        plist_t value = nullptr;
        plist_dict_next_item(node, it, nullptr, &value);
        if (!value) break;
        ObjectPtr item = fromPlist(value, depth + 1, keysMayHoldNul, error);
        if (!item) {
          result = nullptr;
          break;
        }
        plist_t key = plist_dict_item_get_key(value);
        std::string keyText;
        if (keysMayHoldNul) {
          keyText = key ? keyTextFromRendering(key) : std::string();
        } else {
          char* copied = nullptr;
          if (key) plist_get_key_val(key, &copied);
          keyText = copied ? copied : "";
          std::free(copied);
        }
        dict->setObject(std::move(item), keyText);
      }
      std::free(it);
      return result;
    }
    default:
      *error = "unsupported property-list node";
      return nullptr;
  }
}

}  // namespace

std::optional<std::string> binaryPropertyListFromObject(const ObjectPtr& object,
                                                        std::string* error) {
  std::string reason;
  PlistPtr root(toPlist(object, 0, &reason));
  if (!root) {
    if (error) *error = reason;
    return std::nullopt;
  }
  char* bytes = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(root.get(), &bytes, &length);
  if (!bytes) {
    if (error) *error = "binary serialisation failed";
    return std::nullopt;
  }
  std::string out(bytes, length);
  plist_to_bin_free(bytes);
  return out;
}

ObjectPtr objectFromPropertyListData(const std::string& data, std::string* error, int maxDepth) {
  std::string reason;
  if (data.empty() || data.size() > std::numeric_limits<std::uint32_t>::max()) {
    if (error) *error = data.empty() ? "empty file" : "file too large";
    return nullptr;
  }
  plist_t raw = nullptr;
  plist_from_memory(data.data(), static_cast<std::uint32_t>(data.size()), &raw);
  PlistPtr root(raw);
  if (!root) {
    if (error) *error = "not a property list";
    return nullptr;
  }
  if (!nestsWithin(root.get(), maxDepth)) {
    if (error) *error = "nesting too deep";
    return nullptr;
  }
  // Starting deeper than 0 leaves `maxDepth` levels before the walk's own limit.
  ObjectPtr object =
      fromPlist(root.get(), kMaxDepth - maxDepth, renderingHoldsNul(root.get()), &reason);
  if (!object && error) *error = reason;
  return object;
}

}  // namespace loomset
