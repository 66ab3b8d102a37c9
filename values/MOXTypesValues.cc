// The conversions between objects and Values, and the text form of objects.
#include <algorithm>
#include <string>
#include <vector>

#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"

namespace loomset {

namespace {

// Objects come from the application and may be nested without bound or even contain themselves
// (arrays and dictionaries are mutable); Values can be built by code as deeply as it likes. Every
// recursive walk below refuses to go deeper than this, and refuses to enter an array or dictionary
// that is already on its path, so that no input can exhaust the stack or loop forever.
constexpr std::size_t kMaxNestingDepth = 512;

enum class Entry { Ok, TooDeep, ContainsItself };

// The chain of arrays and dictionaries from the root of one walk to the current object.
class ObjectPath {
 public:
  Entry enter(const Object* container) {
    if (path_.size() >= kMaxNestingDepth) return Entry::TooDeep;
    if (std::find(path_.begin(), path_.end(), container) != path_.end()) {
      return Entry::ContainsItself;
    }
    path_.push_back(container);
    return Entry::Ok;
  }
  void leave() { path_.pop_back(); }

 private:
  std::vector<const Object*> path_;
};

void logUnknownObject(const Object* object) {
  MOXLog::error("Converting to Value from unknown object type: " +
                (object ? object->className() : std::string("nil")));
}

// Fills `out` in place, so nested collections are never built twice and copied into their parent.
class ValueBuilder {
 public:
  bool fill(const Object& object, MOXPValue* out) {
    switch (object.kind()) {
      case ObjectKind::Value: {
        const ValuePtr& value = static_cast<const ValueObject&>(object).value();
        if (!value) break;
        // A carried failure fails the whole conversion; it was reported when it was made.
        if (value == MOXTypes::defaultValue()) return false;
        *out = *value;
        return true;
      }
      case ObjectKind::String:
        out->set_type(MOXPValue::String);
        out->set_string(static_cast<const String&>(object).text());
        return true;
      case ObjectKind::Array:
        return fillCollection(object, out, [&] {
          out->set_type(MOXPValue::List);
          bool references = false;
          for (const auto& item : static_cast<const Array&>(object).items()) {
            MOXPValue* converted = out->add_list_item();
            if (!fill(*item, converted)) return false;
            references = references || converted->contains_references();
          }
          if (references) out->set_contains_references(true);
          return true;
        });
      case ObjectKind::Dictionary:
        return fillCollection(object, out, [&] {
          out->set_type(MOXPValue::Map);
          bool references = false;
          for (const auto& [key, value] : static_cast<const Dictionary&>(object).entries()) {
            MOXPValue* convertedKey = out->add_map_key();
            if (!fill(*key, convertedKey)) return false;
            MOXPValue* convertedValue = out->add_map_value();
            if (!fill(*value, convertedValue)) return false;
            references = references || convertedKey->contains_references() ||
                         convertedValue->contains_references();
          }
          if (references) out->set_contains_references(true);
          return true;
        });
      case ObjectKind::Number: {
        const auto& number = static_cast<const Number&>(object);
        if (number.isFloatingKind()) {
          // There is no floating kind of Value: floating numbers travel as their shortest text.
          out->set_type(MOXPValue::String);
          out->set_string(number.stringValue());
          return true;
        }
        if (number.isIntegerKind()) {
          out->set_type(MOXPValue::Integer);
          out->set_integer(number.longLongValue());
          return true;
        }
        break;
      }
      case ObjectKind::Boolean:
        out->set_type(MOXPValue::Boolean);
        out->set_boolean(static_cast<const MOXBoolean&>(object).boolValue());
        return true;
      default:
        break;
    }
    logUnknownObject(&object);
    return false;
  }

 private:
  template <typename FillItems>
  bool fillCollection(const Object& collection, MOXPValue* out, FillItems fillItems) {
    switch (path_.enter(&collection)) {
      case Entry::TooDeep:
        MOXLog::error("Converting to Value from an object nested too deeply: " +
                      collection.className());
        return false;
      case Entry::ContainsItself:
        MOXLog::error("Converting to Value from an object that contains itself: " +
                      collection.className());
        return false;
      case Entry::Ok:
        break;
    }
    const bool ok = fillItems();
    path_.leave();
    return ok;
  }

  ObjectPath path_;
};

// Appends the text form of objects: "[a, 1, true]" for arrays and "{a=1}" for dictionaries.
class TextWriter {
 public:
  explicit TextWriter(std::string& out) : out_(out) {}

  void append(const Object& object) {
    switch (object.kind()) {
      case ObjectKind::String:
        out_ += static_cast<const String&>(object).text();
        return;
      case ObjectKind::Number:
        out_ += static_cast<const Number&>(object).stringValue();
        return;
      case ObjectKind::Array:
        appendCollection(object, '[', ']', [&] {
          bool first = true;
          for (const auto& item : static_cast<const Array&>(object).items()) {
            if (!first) out_ += ", ";
            first = false;
            append(*item);
          }
        });
        return;
      case ObjectKind::Dictionary:
        appendCollection(object, '{', '}', [&] {
          bool first = true;
          for (const auto& [key, value] : static_cast<const Dictionary&>(object).entries()) {
            if (!first) out_ += ", ";
            first = false;
            append(*key);
            out_ += '=';
            append(*value);
          }
        });
        return;
      default:
        out_ += object.description();
        return;
    }
  }

 private:
  template <typename AppendItems>
  void appendCollection(const Object& collection, char open, char close, AppendItems appendItems) {
    switch (path_.enter(&collection)) {
      case Entry::TooDeep:
        MOXLog::error("Converting an object nested too deeply to a string: " +
                      collection.className());
        out_ += "...";
        return;
      case Entry::ContainsItself:
        MOXLog::error("Converting an object that contains itself to a string: " +
                      collection.className());
        out_ += "...";
        return;
      case Entry::Ok:
        break;
    }
    out_ += open;
    appendItems();
    out_ += close;
    path_.leave();
  }

  std::string& out_;
  ObjectPath path_;
};

class ObjectBuilder {
 public:
  ObjectPtr convert(const MOXPValue* value, std::size_t depth = 0) {
    if (!value) return nullptr;
    if (depth >= kMaxNestingDepth) {
      MOXLog::error("Converting a value nested too deeply to object");
      return nullptr;
    }
    switch (value->type()) {
      case MOXPValue::String:
        return String::create(value->string());
      case MOXPValue::List: {
        std::vector<ObjectPtr> items;
        items.reserve(static_cast<std::size_t>(value->list_item_size()));
        for (const MOXPValue& item : value->list_item()) {
          ObjectPtr object = convert(&item, depth + 1);
          if (!object) return nullptr;
          items.push_back(std::move(object));
        }
        return Array::create(std::move(items));
      }
      case MOXPValue::Map: {
        if (value->map_key_size() != value->map_value_size()) {
          if (MOXLog::enabled(kMOXLogLevelError)) {
            MOXLog::error("Converting an invalid value to object: " + valueDescription(*value));
          }
          return nullptr;
        }
        auto dictionary = Dictionary::create();
        for (int i = 0; i < value->map_key_size(); ++i) {
          ObjectPtr key = convert(&value->map_key(i), depth + 1);
          if (!key) return nullptr;
          ObjectPtr object = convert(&value->map_value(i), depth + 1);
          if (!object) return nullptr;
          dictionary->setObject(std::move(object), std::move(key));
        }
        return dictionary;
      }
      case MOXPValue::MacroReference:
        MOXLog::error("Trying to convert a macro reference to object");
        return nullptr;
      case MOXPValue::FunctionId:
        MOXLog::error("Trying to convert a function ID to object");
        return nullptr;
      case MOXPValue::Integer:
        return Number::int64(value->integer());
      case MOXPValue::Template: {
        std::string text;
        for (const MOXPValue& token : value->template_token()) {
          // A token that does not convert has no text (its text would be defaultString).
          ObjectPtr object = convert(&token, depth + 1);
          if (!object) return nullptr;
          TextWriter(text).append(*object);
        }
        return String::create(std::move(text));
      }
      case MOXPValue::Boolean:
        return MOXBoolean::booleanWithBool(value->boolean());
      default:
        MOXLog::error("Failed to convert a value of type: " +
                      std::to_string(static_cast<long>(value->type())));
        return nullptr;
    }
  }
};

}  // namespace

ValuePtr MOXTypes::objectToValue(const ObjectPtr& object) {
  if (!object) {
    logUnknownObject(nullptr);
    return defaultValue();
  }
  if (object->kind() == ObjectKind::Value) {
    if (const ValuePtr& carried = static_cast<const ValueObject&>(*object).value()) return carried;
  }
  auto value = std::make_shared<MOXPValue>();
  if (!ValueBuilder().fill(*object, value.get())) return defaultValue();
  return value;
}

ObjectPtr MOXTypes::valueToObject(const MOXPValue* value) {
  return ObjectBuilder().convert(value);
}

std::shared_ptr<String> MOXTypes::objectToString(const ObjectPtr& object) {
  if (!object) return defaultString();
  if (object->kind() == ObjectKind::String) return std::static_pointer_cast<String>(object);
  std::string text;
  TextWriter(text).append(*object);
  return String::create(std::move(text));
}

}  // namespace loomset
