// The immutable object kinds: strings, numbers (which remember whether they hold an integer or a
// floating kind), the explicit null object, identity-only markers, bytes and dates.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "loomset/Object.h"

namespace loomset {

class LOOMSET_EXPORT String final : public Object {
 public:
  explicit String(std::string text) : text_(std::move(text)) {}
  static std::shared_ptr<String> create(std::string text) {
    return std::make_shared<String>(std::move(text));
  }
  const std::string& text() const { return text_; }

  ObjectKind kind() const override { return ObjectKind::String; }
  std::string className() const override { return "NSString"; }
  std::string description() const override { return text_; }
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override { return hashText(text_); }
  static std::size_t hashText(std::string_view text);

 private:
  const std::string text_;
};

// The storage kinds a number can have. The signed integer kinds and the platform boolean kind
// count as integers, the two floating kinds as floating; an unsigned 64-bit number is neither.
enum class NumberType { Char, Short, Int, Long, LongLong, Bool, Float, Double, UnsignedLongLong };

class LOOMSET_EXPORT Number : public Object {
 public:
  static std::shared_ptr<Number> int64(std::int64_t v) {
    return std::make_shared<Number>(NumberType::LongLong, v);
  }
  static std::shared_ptr<Number> int32(std::int32_t v) {
    return std::make_shared<Number>(NumberType::Int, v);
  }
  static std::shared_ptr<Number> float64(double v) { return std::make_shared<Number>(v); }
  static std::shared_ptr<Number> float32(float v) {
    return std::make_shared<Number>(static_cast<double>(v), NumberType::Float);
  }
  static std::shared_ptr<Number> platformBool(bool v) {
    return std::make_shared<Number>(NumberType::Bool, v ? 1 : 0);
  }
  static std::shared_ptr<Number> uint64(std::uint64_t v);

  Number(NumberType type, std::int64_t v) : type_(type), i_(v), d_(static_cast<double>(v)) {}
  explicit Number(double v, NumberType floatingType = NumberType::Double)
      : type_(floatingType), i_(0), d_(v) {}

  NumberType numberType() const { return type_; }
  bool isIntegerKind() const;
  bool isFloatingKind() const { return type_ == NumberType::Float || type_ == NumberType::Double; }

  // Accessors convert as a C cast would, but saturate instead of overflowing.
  std::int64_t longLongValue() const;
  std::uint64_t unsignedLongLongValue() const;
  double doubleValue() const { return d_; }
  bool boolValue() const { return isFloatingKind() ? d_ != 0.0 : i_ != 0; }
  // Decimal digits for integers, the shortest text that reads back for floating numbers.
  std::string stringValue() const;
  // -1, 0 or 1, comparing numerically across kinds.
  int compare(const Number& other) const;

  ObjectKind kind() const override { return ObjectKind::Number; }
  std::string className() const override { return "NSNumber"; }
  std::string description() const override { return stringValue(); }
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;

 private:
  const NumberType type_;
  const std::int64_t i_;  // integer kinds (two's-complement bits for the unsigned kind)
  const double d_;
};

// A zero that answers everything as the integer 0 does, but can be told apart by identity.
class LOOMSET_EXPORT MOXDistinctZero final : public Number {
 public:
  MOXDistinctZero() : Number(NumberType::Int, 0) {}
  static std::shared_ptr<MOXDistinctZero> distinctZero() {
    return std::make_shared<MOXDistinctZero>();
  }
  std::string className() const override { return "MOXDistinctZero"; }
};

// The explicit null object: a value in its own right, one instance per process.
class LOOMSET_EXPORT Null final : public Object {
 public:
  static const ObjectPtr& null();
  ObjectKind kind() const override { return ObjectKind::Null; }
  std::string className() const override { return "NSNull"; }
  std::string description() const override { return "<null>"; }
  bool isEqual(const Object& other) const override { return other.kind() == ObjectKind::Null; }
  std::size_t hash() const override { return 0x9e3779b9u; }
  Null() = default;
};

// An object that means something only by identity.
class LOOMSET_EXPORT Marker final : public Object {
 public:
  explicit Marker(std::string name) : name_(std::move(name)) {}
  ObjectKind kind() const override { return ObjectKind::Marker; }
  std::string className() const override { return "NSObject"; }
  std::string description() const override { return "<" + name_ + ">"; }

 private:
  const std::string name_;
};

class LOOMSET_EXPORT Data final : public Object {
 public:
  explicit Data(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  ObjectKind kind() const override { return ObjectKind::Data; }
  std::string className() const override { return "NSData"; }
  std::string description() const override;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override { return bytes_.size(); }

 private:
  const std::vector<std::uint8_t> bytes_;
};

class LOOMSET_EXPORT Date final : public Object {
 public:
  explicit Date(double secondsSince1970) : seconds_(secondsSince1970) {}
  double timeIntervalSince1970() const { return seconds_; }
  ObjectKind kind() const override { return ObjectKind::Date; }
  std::string className() const override { return "NSDate"; }
  std::string description() const override;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;

 private:
  const double seconds_;
};

}  // namespace loomset
