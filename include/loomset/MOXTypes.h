// Conversions between container Values and application objects.
//
// Conversions never throw: a failure logs one error line through MOXLog and returns a sentinel
// (one of the default accessors below), which callers recognise by identity only, so that a
// genuine empty string or 0 is never taken for a failure. A failure anywhere inside a list or map
// fails the whole conversion.
//
// The sentinels are created once, on first use, and live for the whole process. objectToValue
// copies what it converts into a new Value (a Value carried by a ValueObject is returned itself);
// valueToObject makes new objects the caller owns. Nesting deeper than 512 levels, or an array or
// dictionary that contains itself, fails the conversion instead of exhausting the stack.
//
// Threads: every operation may be called from any thread (an array or dictionary being converted
// must not be mutated meanwhile, as for any use of one).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "loomset/MOXBoolean.h"
#include "loomset/MOXPValue.h"
#include "loomset/Object.h"
#include "loomset/Scalars.h"

namespace loomset {

class LOOMSET_EXPORT MOXTypes {
 public:
  // Object to Value; returns the object's own Value when it already carries one (ValueObject),
  // defaultValue() on failure.
  static ValuePtr objectToValue(const ObjectPtr& object);
  // Value to object; null on failure.
  static ObjectPtr valueToObject(const MOXPValue* value);
  static ObjectPtr valueToObject(const ValuePtr& value) { return valueToObject(value.get()); }

  // Never fails: null gives defaultString().
  static std::shared_ptr<String> objectToString(const ObjectPtr& object);
  static std::shared_ptr<Number> objectToNumber(const ObjectPtr& object);
  static std::shared_ptr<Number> objectToInt64(const ObjectPtr& object);
  static std::shared_ptr<Number> objectToDouble(const ObjectPtr& object);
  static std::shared_ptr<MOXBoolean> objectToBoolean(const ObjectPtr& object);

  static std::shared_ptr<String> valueToString(const MOXPValue* value);
  static std::shared_ptr<Number> valueToNumber(const MOXPValue* value);
  static std::shared_ptr<Number> valueToInt64(const MOXPValue* value);
  static std::shared_ptr<Number> valueToDouble(const MOXPValue* value);
  static std::shared_ptr<MOXBoolean> valueToBoolean(const MOXPValue* value);
  static std::shared_ptr<String> valueToString(const ValuePtr& v) { return valueToString(v.get()); }
  static std::shared_ptr<Number> valueToNumber(const ValuePtr& v) { return valueToNumber(v.get()); }
  static std::shared_ptr<Number> valueToInt64(const ValuePtr& v) { return valueToInt64(v.get()); }
  static std::shared_ptr<Number> valueToDouble(const ValuePtr& v) { return valueToDouble(v.get()); }
  static std::shared_ptr<MOXBoolean> valueToBoolean(const ValuePtr& v) {
    return valueToBoolean(v.get());
  }

  // A Value of kind FunctionId naming `name`.
  static ValuePtr functionIdToValue(const std::string& name);

  static bool isInt64ableNumber(const ObjectPtr& object);
  static bool isDoubleableNumber(const ObjectPtr& object);
  // A non-number logs an error and gives 0.
  static std::int64_t getInt64(const ObjectPtr& number);
  static double getDouble(const ObjectPtr& number);

  // Whole-text scan: leading white space allowed, anything trailing rejected; integers before
  // doubles; out-of-range integers saturate at INT64_MAX / INT64_MIN. Only decimal forms are
  // numbers ("inf", "nan" and hexadecimal floats are not); a decimal too large for a double gives
  // infinity and one too small gives zero. Null when the text is not a number.
  static std::shared_ptr<Number> numberWithString(std::string_view text);
  static std::shared_ptr<Number> parseNumber(std::string_view text);
  static std::shared_ptr<Number> parseInt64(std::string_view text);
  static std::shared_ptr<Number> parseDouble(std::string_view text);
  static std::shared_ptr<MOXBoolean> parseBoolean(std::string_view text);

  // The sentinels, created once. defaultObject() is null.
  static ObjectPtr defaultObject() { return nullptr; }
  static const std::shared_ptr<Number>& defaultInt64();
  static const std::shared_ptr<Number>& defaultDouble();
  static const std::shared_ptr<Number>& defaultNumber();
  static const std::shared_ptr<String>& defaultString();
  static const ValuePtr& defaultValue();
  static const std::shared_ptr<MOXBoolean>& defaultBoolean();
};

// An object or an integer failure code.
class LOOMSET_EXPORT MOXTypeOrFailure {
 public:
  static MOXTypeOrFailure withType(ObjectPtr type) { return MOXTypeOrFailure(std::move(type), 0); }
  static MOXTypeOrFailure withFailure(int failure) { return MOXTypeOrFailure(nullptr, failure); }
  const ObjectPtr& type() const { return type_; }
  int failure() const { return failure_; }

 private:
  MOXTypeOrFailure(ObjectPtr type, int failure) : type_(std::move(type)), failure_(failure) {}
  ObjectPtr type_;
  int failure_;
};

}  // namespace loomset
