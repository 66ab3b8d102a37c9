#include "datalayer/ValueArchive.h"

#include <google/protobuf/io/coded_stream.h>

#include <cstdint>

#include "loomset/MOXDataLayer.h"
#include "loomset/Objects.h"
#include "loomset/proto/datalayer_value.pb.h"

namespace loomset::datalayer {

namespace {

using Archived = MOXPDataLayerValue;

// Lists and maps nested in one value; deeper values are refused when archiving.
constexpr int kMaxDepth = MOXDataLayer::kMaxNestingDepth;
// Message levels the parser may descend: a map entry's value sits three messages below its map's
// value (value, map, entry).
constexpr int kMaxMessageDepth = 3 * kMaxDepth + 8;

Archived::NumberType archivedType(NumberType type) {
  switch (type) {
    case NumberType::Char:
      return Archived::Char;
    case NumberType::Short:
      return Archived::Short;
    case NumberType::Int:
      return Archived::Int;
    case NumberType::Long:
      return Archived::Long;
    case NumberType::LongLong:
      return Archived::LongLong;
    case NumberType::Bool:
      return Archived::Bool;
    case NumberType::Float:
      return Archived::Float;
    case NumberType::Double:
      return Archived::Double;
    case NumberType::UnsignedLongLong:
      return Archived::UnsignedLongLong;
  }
  return Archived::LongLong;
}

NumberType numberType(Archived::NumberType type) {
  switch (type) {
    case Archived::Char:
      return NumberType::Char;
    case Archived::Short:
      return NumberType::Short;
    case Archived::Int:
      return NumberType::Int;
    case Archived::Long:
      return NumberType::Long;
    case Archived::LongLong:
      return NumberType::LongLong;
    case Archived::Bool:
      return NumberType::Bool;
    case Archived::Float:
      return NumberType::Float;
    case Archived::Double:
      return NumberType::Double;
    case Archived::UnsignedLongLong:
      return NumberType::UnsignedLongLong;
  }
  return NumberType::LongLong;
}

void archiveNumber(const Number& number, Archived& out) {
  const NumberType type = number.numberType();
  out.set_number_type(archivedType(type));
  if (number.isFloatingKind()) {
    out.set_floating_value(number.doubleValue());
  } else if (type == NumberType::UnsignedLongLong) {
    out.set_unsigned_value(number.unsignedLongLongValue());
  } else {
    out.set_integer_value(number.longLongValue());
  }
}

bool archive(const ObjectPtr& value, int depth, Archived& out, std::string* reason) {
  if (!value) {
    if (reason) *reason = "no object";
    return false;
  }
  if (depth > kMaxDepth) {
    if (reason) *reason = "nested deeper than " + std::to_string(kMaxDepth) + " levels";
    return false;
  }
  switch (value->kind()) {
    case ObjectKind::String:
      out.set_string_value(asString(value)->text());
      return true;
    case ObjectKind::Number:
      archiveNumber(*asNumber(value), out);
      return true;
    case ObjectKind::Boolean:
      out.set_boolean_value(asBoolean(value)->boolValue());
      return true;
    case ObjectKind::Null:
      out.mutable_null_value();
      return true;
    case ObjectKind::Array: {
      auto* list = out.mutable_list_value();
      for (const ObjectPtr& item : asArray(value)->items()) {
        if (!archive(item, depth + 1, *list->add_item(), reason)) return false;
      }
      return true;
    }
    case ObjectKind::Dictionary: {
      auto* map = out.mutable_map_value();
      for (const auto& [key, item] : asDictionary(value)->entries()) {
        auto* entry = map->add_entry();
        if (!archive(key, depth + 1, *entry->mutable_key(), reason) ||
            !archive(item, depth + 1, *entry->mutable_value(), reason)) {
          return false;
        }
      }
      return true;
    }
    case ObjectKind::Marker:
      if (value == kMOXDataLayerObjectNotPresent()) {
        out.mutable_not_present_value();
        return true;
      }
      break;
    case ObjectKind::Value:
    case ObjectKind::Data:
    case ObjectKind::Date:
    case ObjectKind::Other:
      break;
  }
  if (reason) *reason = "an object of class " + value->className();
  return false;
}

ObjectPtr unarchiveNumber(const Archived& in) {
  const NumberType type = in.has_number_type()      ? numberType(in.number_type())
                          : in.has_floating_value() ? NumberType::Double
                          : in.has_unsigned_value() ? NumberType::UnsignedLongLong
                                                    : NumberType::LongLong;
  const bool floating = type == NumberType::Float || type == NumberType::Double;
  // A kind that does not match its storage type means the bytes were not written by us.
  if (in.has_floating_value()) {
    return floating ? std::make_shared<Number>(in.floating_value(), type) : nullptr;
  }
  if (in.has_unsigned_value()) {
    return type == NumberType::UnsignedLongLong ? Number::uint64(in.unsigned_value()) : nullptr;
  }
  if (floating || type == NumberType::UnsignedLongLong) return nullptr;
  return std::make_shared<Number>(type, in.integer_value());
}

ObjectPtr unarchive(const Archived& in) {
  switch (in.kind_case()) {
    case Archived::kStringValue:
      return String::create(in.string_value());
    case Archived::kIntegerValue:
    case Archived::kFloatingValue:
    case Archived::kUnsignedValue:
      return unarchiveNumber(in);
    case Archived::kBooleanValue:
      return MOXBoolean::booleanWithBool(in.boolean_value());
    case Archived::kNullValue:
      return Null::null();
    case Archived::kNotPresentValue:
      return kMOXDataLayerObjectNotPresent();
    case Archived::kListValue: {
      auto list = Array::create();
      for (const Archived& item : in.list_value().item()) {
        ObjectPtr restored = unarchive(item);
        if (!restored) return nullptr;
        list->addObject(std::move(restored));
      }
      return list;
    }
    case Archived::kMapValue: {
      auto map = Dictionary::create();
      for (const auto& entry : in.map_value().entry()) {
        if (!entry.has_key() || !entry.has_value()) return nullptr;
        ObjectPtr key = unarchive(entry.key());
        ObjectPtr value = unarchive(entry.value());
        if (!key || !value) return nullptr;
        map->setObject(std::move(value), std::move(key));
      }
      return map;
    }
    case Archived::KIND_NOT_SET:
      break;
  }
  return nullptr;
}

}  // namespace

std::optional<std::string> archiveValue(const ObjectPtr& value, std::string* reason) {
  Archived archived;
  if (!archive(value, 0, archived, reason)) return std::nullopt;
  std::string bytes;
  if (!archived.SerializeToString(&bytes)) {
    if (reason) *reason = "a value too large to archive";
    return std::nullopt;
  }
  return bytes;
}

ObjectPtr unarchiveValue(std::string_view bytes) {
  google::protobuf::io::CodedInputStream input(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                               static_cast<int>(bytes.size()));
  input.SetRecursionLimit(kMaxMessageDepth);
  Archived archived;
  if (!archived.ParseFromCodedStream(&input) || !input.ConsumedEntireMessage()) return nullptr;
  return unarchive(archived);
}

}  // namespace loomset::datalayer
