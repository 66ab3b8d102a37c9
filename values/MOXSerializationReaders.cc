// The JSON and property-list readers of MOXSerialization.
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <plist/plist.h>
#include <nlohmann/json.hpp>

#include "loomset/MOXLog.h"
#include "loomset/MOXSerialization.h"
#include "loomset/Objects.h"

namespace loomset {
namespace {

// Builds objects straight from parser events, so neither a document tree nor recursion is needed
// and the nesting limit is enforced before anything deep is built.
class JsonObjectBuilder {
 public:
  using json = nlohmann::json;

  ObjectPtr result() const { return root_; }
  bool tooDeep() const { return tooDeep_; }

  bool null() { return add(Null::null()); }
  bool boolean(bool v) { return add(Number::platformBool(v)); }
  bool number_integer(std::int64_t v) { return add(Number::int64(v)); }
  bool number_unsigned(std::uint64_t v) {
    if (v <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return add(Number::int64(static_cast<std::int64_t>(v)));
    }
    return add(Number::float64(static_cast<double>(v)));
  }
  bool number_float(double v, const std::string&) { return add(Number::float64(v)); }
  bool string(std::string& v) { return add(String::create(std::move(v))); }
  bool binary(json::binary_t&) { return false; }
  bool start_object(std::size_t) { return open(Dictionary::create()); }
  bool key(std::string& k) {
    key_ = std::move(k);
    return true;
  }
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(Array::create()); }
  bool end_array() { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

 private:
  struct Frame {
    ObjectPtr container;
    std::string key;  // the member name under which the container goes into its parent
  };

  bool add(ObjectPtr object) {
    if (stack_.empty()) {
      root_ = std::move(object);
    } else if (auto* array = asArray(stack_.back().container)) {
      array->addObject(std::move(object));
    } else {
      asDictionary(stack_.back().container)->setObject(std::move(object), key_);
    }
    return true;
  }
  bool open(ObjectPtr container) {
    if (stack_.size() >= MOXSerialization::kMaxNesting) {
      tooDeep_ = true;
      return false;
    }
    stack_.push_back({std::move(container), std::move(key_)});
    return true;
  }
  bool close() {
    Frame frame = std::move(stack_.back());
    stack_.pop_back();
    key_ = std::move(frame.key);
    return add(std::move(frame.container));
  }

  std::vector<Frame> stack_;
  std::string key_;
  ObjectPtr root_;
  bool tooDeep_ = false;
};

ObjectPtr plistToObject(plist_t node, std::size_t depth) {
  if (depth > MOXSerialization::kMaxNesting) return nullptr;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t v = 0;
      plist_get_bool_val(node, &v);
      return Number::platformBool(v != 0);
    }
    case PLIST_UINT: {
      std::uint64_t v = 0;
      plist_get_uint_val(node, &v);
      // Negative integers arrive in two's complement.
      return Number::int64(static_cast<std::int64_t>(v));
    }
    case PLIST_REAL: {
      double v = 0;
      plist_get_real_val(node, &v);
      return Number::float64(v);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      char* text = nullptr;
      if (plist_get_node_type(node) == PLIST_STRING) {
        plist_get_string_val(node, &text);
      } else {
        plist_get_key_val(node, &text);
      }
      ObjectPtr result = String::create(text ? text : "");
      free(text);
      return result;
    }
    case PLIST_ARRAY: {
      auto array = Array::create();
      const std::uint32_t size = plist_array_get_size(node);
      for (std::uint32_t i = 0; i < size; ++i) {
        ObjectPtr item = plistToObject(plist_array_get_item(node, i), depth + 1);
        if (!item) return nullptr;
        array->addObject(std::move(item));
      }
      return array;
    }
    case PLIST_DICT: {
      auto dictionary = Dictionary::create();
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(node, &iter);
      while (iter) {
        char* key = nullptr;
        plist_t member = nullptr;
        plist_dict_next_item(node, iter, &key, &member);
        if (!member) {
          free(key);
          break;
        }
        ObjectPtr value = plistToObject(member, depth + 1);
        if (!value) {
          free(key);
          free(iter);
          return nullptr;
        }
        dictionary->setObject(std::move(value), std::string_view(key ? key : ""));
        free(key);
      }
      free(iter);
      return dictionary;
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      std::uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      std::vector<std::uint8_t> data(bytes, bytes + length);
      free(bytes);
      return std::make_shared<Data>(std::move(data));
    }
    case PLIST_DATE: {
      std::int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      // Property-list dates count from 2001-01-01.
      return std::make_shared<Date>(978307200.0 + sec + usec / 1e6);
    }
    default:
      // Keyed-archive identifiers have no counterpart among objects.
      return std::make_shared<Marker>("UID");
  }
}

}  // namespace

ObjectPtr MOXSerialization::objectFromJson(std::string_view text) {
  JsonObjectBuilder builder;
  const bool ok = nlohmann::json::sax_parse(text.begin(), text.end(), &builder,
                                            nlohmann::json::input_format_t::json, true);
  if (!ok || !builder.result()) {
    MOXLog::error(builder.tooDeep() ? std::string("JSON nests too deeply")
                                    : std::string("JSON could not be parsed"));
    return nullptr;
  }
  return builder.result();
}

ObjectPtr MOXSerialization::objectFromPropertyList(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
    MOXLog::error("Property list could not be parsed");
    return nullptr;
  }
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
  if (!root) {
    MOXLog::error("Property list could not be parsed");
    return nullptr;
  }
  ObjectPtr result = plistToObject(root, 0);
  plist_free(root);
  if (!result) MOXLog::error("Property list nests too deeply");
  return result;
}

}  // namespace loomset
