// Sentinels, numeric access and the text-to-number / text-to-boolean conversions of MOXTypes. The
// conversions between objects and Values live in MOXTypesValues.cc.
#include "loomset/MOXTypes.h"

#include <new>
#include <utility>

#include "foundation/NumberScanning.h"
#include "loomset/MOXLog.h"
#include "loomset/Objects.h"

namespace loomset {

namespace {

// The sentinels are made once and never destroyed: worker threads that live as long as the process
// may still convert values while static destructors run at exit, and must find the sentinels
// intact then.
struct Sentinels {
  std::shared_ptr<Number> int64 = MOXDistinctZero::distinctZero();
  std::shared_ptr<Number> floating = MOXDistinctZero::distinctZero();
  std::shared_ptr<Number> number = MOXDistinctZero::distinctZero();
  std::shared_ptr<String> string = String::create("");
  ValuePtr value = makeEmptyStringValue();
  std::shared_ptr<MOXBoolean> boolean = std::make_shared<MOXBoolean>(false);

  // What objectToValue makes of the empty string, built directly so that creating the sentinels
  // never re-enters the conversions.
  static ValuePtr makeEmptyStringValue() {
    auto v = std::make_shared<MOXPValue>();
    v->set_type(MOXPValue::String);
    v->set_string("");
    return v;
  }
};

const Sentinels& sentinels() {
  alignas(Sentinels) static unsigned char storage[sizeof(Sentinels)];
  static const Sentinels* const instance = ::new (storage) Sentinels();
  return *instance;
}

}  // namespace

const std::shared_ptr<Number>& MOXTypes::defaultInt64() {
  return sentinels().int64;
}
const std::shared_ptr<Number>& MOXTypes::defaultDouble() {
  return sentinels().floating;
}
const std::shared_ptr<Number>& MOXTypes::defaultNumber() {
  return sentinels().number;
}
const std::shared_ptr<String>& MOXTypes::defaultString() {
  return sentinels().string;
}
const ValuePtr& MOXTypes::defaultValue() {
  return sentinels().value;
}
const std::shared_ptr<MOXBoolean>& MOXTypes::defaultBoolean() {
  return sentinels().boolean;
}

bool MOXTypes::isInt64ableNumber(const ObjectPtr& object) {
  const Number* n = asNumber(object);
  return n && n->isIntegerKind();
}

bool MOXTypes::isDoubleableNumber(const ObjectPtr& object) {
  const Number* n = asNumber(object);
  return n && n->isFloatingKind();
}

std::int64_t MOXTypes::getInt64(const ObjectPtr& number) {
  if (const Number* n = asNumber(number)) return n->longLongValue();
  MOXLog::error("getInt64 did not receive NSNumber");
  return 0;
}

double MOXTypes::getDouble(const ObjectPtr& number) {
  if (const Number* n = asNumber(number)) return n->doubleValue();
  MOXLog::error("getDouble did not receive NSNumber");
  return 0.0;
}

std::shared_ptr<Number> MOXTypes::numberWithString(std::string_view text) {
  const auto scanned = number_scanning::scanWholeNumber(text);
  if (!scanned) return nullptr;
  return scanned->isInteger ? Number::int64(scanned->integer) : Number::float64(scanned->floating);
}

std::shared_ptr<Number> MOXTypes::parseNumber(std::string_view text) {
  if (auto number = numberWithString(text)) return number;
  if (MOXLog::enabled(kMOXLogLevelError)) {
    MOXLog::error("Failed to convert " + std::string(text) + " to a number.");
  }
  return defaultNumber();
}

std::shared_ptr<Number> MOXTypes::parseInt64(std::string_view text) {
  const auto number = parseNumber(text);
  if (number == defaultNumber()) return defaultInt64();
  return Number::int64(number->longLongValue());
}

std::shared_ptr<Number> MOXTypes::parseDouble(std::string_view text) {
  const auto number = parseNumber(text);
  if (number == defaultNumber()) return defaultDouble();
  return Number::float64(number->doubleValue());
}

std::shared_ptr<MOXBoolean> MOXTypes::parseBoolean(std::string_view text) {
  if (auto boolean = MOXBoolean::booleanWithString(text)) return boolean;
  if (MOXLog::enabled(kMOXLogLevelError)) {
    MOXLog::error("Failed to parse an invalid boolean: " + std::string(text));
  }
  return defaultBoolean();
}

std::shared_ptr<Number> MOXTypes::objectToNumber(const ObjectPtr& object) {
  if (object && object->kind() == ObjectKind::Number) {
    return std::static_pointer_cast<Number>(object);
  }
  return parseNumber(objectToString(object)->text());
}

std::shared_ptr<Number> MOXTypes::objectToInt64(const ObjectPtr& object) {
  if (isInt64ableNumber(object)) return Number::int64(asNumber(object)->longLongValue());
  return parseInt64(objectToString(object)->text());
}

std::shared_ptr<Number> MOXTypes::objectToDouble(const ObjectPtr& object) {
  if (isDoubleableNumber(object)) return Number::float64(asNumber(object)->doubleValue());
  return parseDouble(objectToString(object)->text());
}

std::shared_ptr<MOXBoolean> MOXTypes::objectToBoolean(const ObjectPtr& object) {
  if (object && object->kind() == ObjectKind::Boolean) {
    return std::static_pointer_cast<MOXBoolean>(object);
  }
  return parseBoolean(objectToString(object)->text());
}

std::shared_ptr<String> MOXTypes::valueToString(const MOXPValue* value) {
  return objectToString(valueToObject(value));
}
std::shared_ptr<Number> MOXTypes::valueToNumber(const MOXPValue* value) {
  return objectToNumber(valueToObject(value));
}
std::shared_ptr<Number> MOXTypes::valueToInt64(const MOXPValue* value) {
  return objectToInt64(valueToObject(value));
}
std::shared_ptr<Number> MOXTypes::valueToDouble(const MOXPValue* value) {
  return objectToDouble(valueToObject(value));
}
std::shared_ptr<MOXBoolean> MOXTypes::valueToBoolean(const MOXPValue* value) {
  return objectToBoolean(valueToObject(value));
}

ValuePtr MOXTypes::functionIdToValue(const std::string& name) {
  auto v = std::make_shared<MOXPValue>();
  v->set_type(MOXPValue::FunctionId);
  v->set_function_id(name);
  return v;
}

}  // namespace loomset
