#include "tools/loomset/JsonObjects.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "loomset/MOXDataLayer.h"
#include "loomset/MOXPValue.h"
#include "loomset/Objects.h"

namespace loomset::tools {
namespace {

// Both directions recurse; JSON read through parseStrictJson is already bounded, and objects
// from the data layer are too, but a guard keeps a hand-built deep tree from exhausting the stack.
constexpr int kMaxDepth = 512;

bool isNotPresentMarker(const Json& json) {
  if (!json.is_object() || json.size() != 1) return false;
  const auto it = json.find("$notPresent");
  return it != json.end() && it->is_boolean() && it->get<bool>();
}

ObjectPtr toObject(const Json& json, int depth) {
  if (depth > kMaxDepth) return Null::null();
  switch (json.type()) {
    case Json::value_t::null:
      return Null::null();
    case Json::value_t::boolean:
      return MOXBoolean::booleanWithBool(json.get<bool>());
    case Json::value_t::number_integer:
      return Number::int64(json.get<std::int64_t>());
    case Json::value_t::number_unsigned: {
      const auto v = json.get<std::uint64_t>();
      if (v <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return Number::int64(static_cast<std::int64_t>(v));
      }
      return Number::float64(static_cast<double>(v));
    }
    case Json::value_t::number_float:
      return Number::float64(json.get<double>());
    case Json::value_t::string:
      return String::create(json.get<std::string>());
    case Json::value_t::array: {
      auto array = Array::create();
      for (const Json& item : json) array->addObject(toObject(item, depth + 1));
      return array;
    }
    case Json::value_t::object: {
      if (isNotPresentMarker(json)) return kMOXDataLayerObjectNotPresent();
      auto dictionary = Dictionary::create();
      for (const auto& [key, member] : json.items()) {
        dictionary->setObject(toObject(member, depth + 1), key);
      }
      return dictionary;
    }
    default:
      return Null::null();
  }
}

Json numberToJson(const Number& number) {
  if (number.isFloatingKind()) {
    const double d = number.doubleValue();
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
    return d;
  }
  if (number.numberType() == NumberType::UnsignedLongLong) return number.unsignedLongLongValue();
  return number.longLongValue();
}

Json toJson(const ObjectPtr& object, int depth) {
  if (!object) return nullptr;
  if (depth > kMaxDepth) return "...";
  if (object == kMOXDataLayerObjectNotPresent()) return Json{{"$notPresent", true}};
  switch (object->kind()) {
    case ObjectKind::String:
      return asString(object)->text();
    case ObjectKind::Number:
      return numberToJson(*asNumber(object));
    case ObjectKind::Boolean:
      return asBoolean(object)->boolValue();
    case ObjectKind::Null:
      return nullptr;
    case ObjectKind::Array: {
      Json out = Json::array();
      for (const ObjectPtr& item : asArray(object)->items()) out.push_back(toJson(item, depth + 1));
      return out;
    }
    case ObjectKind::Dictionary: {
      Json out = Json::object();
      for (const auto& [key, value] : asDictionary(object)->entries()) {
        out[key->description()] = toJson(value, depth + 1);
      }
      return out;
    }
    default:
      return object->description();
  }
}

}  // namespace

ObjectPtr jsonToObject(const Json& json) {
  return toObject(json, 0);
}

Json objectToJson(const ObjectPtr& object) {
  return toJson(object, 0);
}

std::string toJsonLine(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace loomset::tools
