#include "loomset/Scalars.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

namespace loomset {

std::size_t Object::hash() const {
  return std::hash<const void*>()(this);
}

std::string describe(const Object* object) {
  return object ? object->description() : "nil";
}
std::string describe(const ObjectPtr& object) {
  return describe(object.get());
}

bool String::isEqual(const Object& other) const {
  return other.kind() == ObjectKind::String && static_cast<const String&>(other).text_ == text_;
}

std::size_t String::hashText(std::string_view text) {
  return std::hash<std::string_view>()(text);
}

std::shared_ptr<Number> Number::uint64(std::uint64_t v) {
  return std::make_shared<Number>(NumberType::UnsignedLongLong, static_cast<std::int64_t>(v));
}

bool Number::isIntegerKind() const {
  switch (type_) {
    case NumberType::Char:
    case NumberType::Short:
    case NumberType::Int:
    case NumberType::Long:
    case NumberType::LongLong:
    case NumberType::Bool:
      return true;
    default:
      return false;
  }
}

namespace {

std::int64_t saturatingTruncate(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
  if (d <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(d);
}

}  // namespace

std::int64_t Number::longLongValue() const {
  if (isFloatingKind()) return saturatingTruncate(d_);
  if (type_ == NumberType::UnsignedLongLong) {
    const auto u = static_cast<std::uint64_t>(i_);
    return u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
               ? std::numeric_limits<std::int64_t>::max()
               : static_cast<std::int64_t>(u);
  }
  return i_;
}

std::uint64_t Number::unsignedLongLongValue() const {
  if (isFloatingKind()) {
    if (std::isnan(d_) || d_ <= 0) return 0;
    if (d_ >= 18446744073709551615.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(d_);
  }
  return static_cast<std::uint64_t>(i_);
}

std::string Number::stringValue() const {
  char buf[64];
  if (isFloatingKind()) {
    if (std::isnan(d_)) return "nan";
    if (std::isinf(d_)) return d_ > 0 ? "inf" : "-inf";
    auto r = type_ == NumberType::Float
                 ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(d_))
                 : std::to_chars(buf, buf + sizeof buf, d_);
    return std::string(buf, r.ptr);
  }
  if (type_ == NumberType::UnsignedLongLong) {
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint64_t>(i_));
    return std::string(buf, r.ptr);
  }
  auto r = std::to_chars(buf, buf + sizeof buf, i_);
  return std::string(buf, r.ptr);
}

int Number::compare(const Number& other) const {
  const bool bothWhole = !isFloatingKind() && !other.isFloatingKind();
  if (bothWhole) {
    const bool au = type_ == NumberType::UnsignedLongLong;
    const bool bu = other.type_ == NumberType::UnsignedLongLong;
    if (!au && !bu) return i_ < other.i_ ? -1 : (i_ > other.i_ ? 1 : 0);
    if (au && bu) {
      const auto a = static_cast<std::uint64_t>(i_), b = static_cast<std::uint64_t>(other.i_);
      return a < b ? -1 : (a > b ? 1 : 0);
    }
    // One unsigned, one signed.
    if (au) return other.i_ < 0 ? 1 : -other.compare(*this);
    if (i_ < 0) return -1;
    const auto a = static_cast<std::uint64_t>(i_), b = static_cast<std::uint64_t>(other.i_);
    return a < b ? -1 : (a > b ? 1 : 0);
  }
  const double a = isFloatingKind() ? d_ : static_cast<double>(longLongValue());
  const double b = other.isFloatingKind() ? other.d_ : static_cast<double>(other.longLongValue());
  return a < b ? -1 : (a > b ? 1 : 0);
}

bool Number::isEqual(const Object& other) const {
  return other.kind() == ObjectKind::Number && compare(static_cast<const Number&>(other)) == 0;
}

std::size_t Number::hash() const {
  if (!isFloatingKind()) return std::hash<std::int64_t>()(i_);
  // Whole floating numbers hash as the equal integer does.
  if (std::trunc(d_) == d_ && std::fabs(d_) < 9.0e18) {
    return std::hash<std::int64_t>()(static_cast<std::int64_t>(d_));
  }
  std::uint64_t bits = 0;
  std::memcpy(&bits, &d_, sizeof bits);
  return std::hash<std::uint64_t>()(bits);
}

const ObjectPtr& Null::null() {
  static const ObjectPtr instance = std::make_shared<Null>();
  return instance;
}

std::string Data::description() const {
  static const char* hex = "0123456789abcdef";
  std::string out = "<";
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (i && i % 4 == 0) out += ' ';
    out += hex[bytes_[i] >> 4];
    out += hex[bytes_[i] & 15];
  }
  return out + ">";
}

bool Data::isEqual(const Object& other) const {
  return other.kind() == ObjectKind::Data && static_cast<const Data&>(other).bytes_ == bytes_;
}

std::string Date::description() const {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, seconds_);
  return "Date(" + std::string(buf, r.ptr) + ")";
}

bool Date::isEqual(const Object& other) const {
  return other.kind() == ObjectKind::Date && static_cast<const Date&>(other).seconds_ == seconds_;
}

std::size_t Date::hash() const {
  return std::hash<double>()(seconds_);
}

}  // namespace loomset
