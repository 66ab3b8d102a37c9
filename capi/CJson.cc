#include "capi/CJson.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "loomset/MOXSerialization.h"
#include "loomset/Objects.h"

namespace loomset::capi {

namespace {

using Json = nlohmann::ordered_json;

// The parser bounds what comes in; objects built by handlers or the data layer are bounded too,
// but a hand-made deep tree must not exhaust the stack.
constexpr int kMaxDepth = 512;

// The reader keeps booleans as boolean numbers; the object model's own booleans are MOXBoolean.
ObjectPtr withBooleans(const ObjectPtr& object) {
  if (!object) return object;
  switch (object->kind()) {
    case ObjectKind::Number: {
      const Number* number = asNumber(object);
      if (number->numberType() == NumberType::Bool) {
        return MOXBoolean::booleanWithBool(number->boolValue());
      }
      return object;
    }
    case ObjectKind::Array: {
      auto converted = Array::create();
      for (const ObjectPtr& item : asArray(object)->items()) {
        converted->addObject(withBooleans(item));
      }
      return converted;
    }
    case ObjectKind::Dictionary: {
      auto converted = Dictionary::create();
      for (const auto& [key, member] : asDictionary(object)->entries()) {
        converted->setObject(withBooleans(member), key);
      }
      return converted;
    }
    default:
      return object;
  }
}

Json toJson(const ObjectPtr& object, int depth) {
  if (!object || depth > kMaxDepth) return nullptr;
  switch (object->kind()) {
    case ObjectKind::String:
      return asString(object)->text();
    case ObjectKind::Number: {
      const Number* number = asNumber(object);
      if (number->numberType() == NumberType::Bool) return number->boolValue();
      if (number->isFloatingKind()) {
        const double d = number->doubleValue();
        return std::isfinite(d) ? Json(d) : Json(nullptr);
      }
      if (number->numberType() == NumberType::UnsignedLongLong) {
        return number->unsignedLongLongValue();
      }
      return number->longLongValue();
    }
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

ObjectPtr objectFromJsonText(std::string_view json) {
  return withBooleans(MOXSerialization::objectFromJson(json));
}

std::string jsonTextFromObject(const ObjectPtr& object) {
  return toJson(object, 0).dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace loomset::capi
