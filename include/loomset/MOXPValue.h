// The Value message (generated from values/proto/loomset/proto/type_system.proto) and how it
// travels among objects. Values are shared by pointer (`ValuePtr`); a sentinel Value such as
// MOXTypes::defaultValue() is recognised by pointer identity.
//
// Ownership: a Value is shared by everything that holds its `ValuePtr`; Values of an expanded
// resource also keep the arena they live in alive. Threads: Values reached through a `ValuePtr`
// are never changed, so any thread may read them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "loomset/Object.h"
#include "loomset/proto/type_system.pb.h"

namespace loomset {

using ValuePtr = std::shared_ptr<const MOXPValue>;

// A Value carried inside the object model (for example as an element of an array that is being
// converted back to a Value, which then passes through unchanged).
class LOOMSET_EXPORT ValueObject final : public Object {
 public:
  explicit ValueObject(ValuePtr value) : value_(std::move(value)) {}
  const ValuePtr& value() const { return value_; }

  ObjectKind kind() const override { return ObjectKind::Value; }
  std::string className() const override { return "MOXPValue"; }
  std::string description() const override;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;

 private:
  const ValuePtr value_;
};

// Field-by-field equality of two Values (set state and contents, lists element by element).
LOOMSET_EXPORT bool valueEquals(const MOXPValue& a, const MOXPValue& b);
// The Value hash, consistent with valueEquals; only for in-memory sets and maps.
LOOMSET_EXPORT std::uint64_t valueHash(const MOXPValue& value);
// The message's text form, on one line, for log messages.
LOOMSET_EXPORT std::string valueDescription(const MOXPValue& value);

struct ValuePtrHash {
  std::size_t operator()(const ValuePtr& v) const { return v ? valueHash(*v) : 0; }
};
struct ValuePtrEqual {
  bool operator()(const ValuePtr& a, const ValuePtr& b) const {
    return a == b || (a && b && valueEquals(*a, *b));
  }
};

}  // namespace loomset
