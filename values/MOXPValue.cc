#include "loomset/MOXPValue.h"

#include <google/protobuf/text_format.h>
#include <google/protobuf/util/message_differencer.h>

#include "loomset/Scalars.h"

namespace loomset {

bool valueEquals(const MOXPValue& a, const MOXPValue& b) {
  return google::protobuf::util::MessageDifferencer::Equals(a, b);
}

std::uint64_t valueHash(const MOXPValue& value) {
  const std::uint64_t c = value.contains_references() ? 1 : 0;
  std::uint64_t h = 0;
  auto fold = [&h](const auto& items) {
    for (const auto& item : items) h = 31 * h + valueHash(item);
  };
  switch (value.type()) {
    case MOXPValue::String:
      h = 31 + String::hashText(value.string());
      break;
    case MOXPValue::MacroReference:
      h = 31 + String::hashText(value.macro_reference());
      break;
    case MOXPValue::FunctionId:
      h = 31 + String::hashText(value.function_id());
      break;
    case MOXPValue::Integer:
      h = 31 + static_cast<std::uint64_t>(value.integer());
      break;
    case MOXPValue::Boolean:
      h = 31 + (value.boolean() ? 1 : 0);
      break;
    case MOXPValue::List:
      h = 1;
      fold(value.list_item());
      break;
    case MOXPValue::Template:
      h = 1;
      fold(value.template_token());
      break;
    case MOXPValue::Map:
      h = 1;
      fold(value.map_key());
      fold(value.map_value());
      break;
    default:
      return 31 + c;
  }
  return 31 * h + c;
}

std::string valueDescription(const MOXPValue& value) {
  google::protobuf::TextFormat::Printer printer;
  printer.SetSingleLineMode(true);
  std::string out;
  printer.PrintToString(value, &out);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return "{" + out + "}";
}

std::string ValueObject::description() const {
  return value_ ? valueDescription(*value_) : "nil";
}

bool ValueObject::isEqual(const Object& other) const {
  if (other.kind() != ObjectKind::Value) return false;
  return ValuePtrEqual()(value_, static_cast<const ValueObject&>(other).value_);
}

std::size_t ValueObject::hash() const {
  return ValuePtrHash()(value_);
}

}  // namespace loomset
