// The boolean object of the value model, distinct from numbers holding 0 or 1.
#pragma once

#include <memory>
#include <string_view>

#include "loomset/Object.h"

namespace loomset {

class LOOMSET_EXPORT MOXBoolean final : public Object {
 public:
  explicit MOXBoolean(bool value) : value_(value) {}

  // Shared instances, created once.
  static const std::shared_ptr<MOXBoolean>& yes();
  static const std::shared_ptr<MOXBoolean>& no();
  // Always a new instance.
  static std::shared_ptr<MOXBoolean> booleanWithBool(bool value) {
    return std::make_shared<MOXBoolean>(value);
  }
  // "true" or "false" in any letter case gives a new instance; any other text gives null.
  static std::shared_ptr<MOXBoolean> booleanWithString(std::string_view text);

  bool boolValue() const { return value_; }

  ObjectKind kind() const override { return ObjectKind::Boolean; }
  std::string className() const override { return "MOXBoolean"; }
  std::string description() const override { return value_ ? "true" : "false"; }
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override { return value_ ? 123 : 838; }

 private:
  const bool value_;
};

}  // namespace loomset
