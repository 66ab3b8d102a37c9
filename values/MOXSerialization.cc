#include "loomset/MOXSerialization.h"

#include "loomset/Exceptions.h"
#include "loomset/MOXExpandedFunctionCall.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"

namespace loomset {

MOXExpandedResourcePtr MOXSerialization::expandedResourceFromDeserializedObject(
    const ObjectPtr& object) {
  const ValuePtr value = deserializedObjectToValue(object);
  MOXExpandedResourceBuilder builder;
  if (value->type() == MOXPValue::Map && value->map_key_size() == value->map_value_size()) {
    const ValuePtr constantFunction = MOXTypes::functionIdToValue("_c");
    for (int i = 0; i < value->map_key_size(); ++i) {
      // The entries stay inside the converted Map; the calls share them through it.
      builder.addMacro(
          MOXExpandedFunctionCall::builder()
              .addPropertyWithValue(ValuePtr(value, &value->map_key(i)),
                                    MOXExpandedFunctionCall::instanceNameKey())
              .addPropertyWithValue(constantFunction, MOXExpandedFunctionCall::functionKey())
              .addPropertyWithValue(ValuePtr(value, &value->map_value(i)), "value")
              .build());
    }
  }
  return builder.build();
}

ObjectPtr MOXSerialization::deserializedObjectToNSObject(const ObjectPtr& object) {
  if (!object) return nullptr;
  switch (object->kind()) {
    case ObjectKind::Dictionary: {
      auto converted = Dictionary::create();
      for (const auto& [key, member] : asDictionary(object)->entries()) {
        converted->setObject(deserializedObjectToNSObject(member), key);
      }
      return converted;
    }
    case ObjectKind::Number: {
      const Number* number = asNumber(object);
      if (number->numberType() == NumberType::Bool) {
        return MOXBoolean::booleanWithBool(number->boolValue());
      }
      return object;
    }
    case ObjectKind::String:
    case ObjectKind::Boolean:
      return object;
    default:
      throw NotSupportedException("Type " + object->className() + " is not supported");
  }
}

ValuePtr MOXSerialization::deserializedObjectToValue(const ObjectPtr& object) {
  return MOXTypes::objectToValue(deserializedObjectToNSObject(object));
}

}  // namespace loomset
