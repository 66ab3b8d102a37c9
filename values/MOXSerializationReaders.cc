// The JSON and property-list readers of MOXSerialization.
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "foundation/PropertyListConversion.h"
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

}  // namespace

ObjectPtr MOXSerialization::objectFromJson(std::string_view text) {
  // The parser takes a NUL byte for the end of the input and would accept whatever follows it;
  // JSON text never holds one (a NUL inside a string is written "\u0000").
  if (text.find('\0') != std::string_view::npos) {
    MOXLog::error("JSON could not be parsed");
    return nullptr;
  }
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
  std::string reason;
  ObjectPtr result =
      objectFromPropertyListData(std::string(bytes), &reason, static_cast<int>(kMaxNesting));
  if (!result) MOXLog::error("Property list could not be read: " + reason);
  return result;
}

}  // namespace loomset
