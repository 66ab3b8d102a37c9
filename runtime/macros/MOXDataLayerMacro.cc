#include "runtime/macros/MOXDataLayerMacro.h"

#include <array>
#include <cstdint>

#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"

namespace loomset {
namespace {

// Rules read the same data-layer entries again and again; converting an immutable entry gives
// the same Value every time, so each thread remembers its recent conversions. An entry counts as
// the same only while the object it was made from is still alive. Entries are filed by address in
// sets of four, so that a few entries whose addresses happen to collide do not keep evicting each
// other.
class ConversionMemo {
 public:
  ValuePtr valueFor(const ObjectPtr& object) {
    const auto kind = object->kind();
    if (kind != ObjectKind::String && kind != ObjectKind::Number) {
      return MOXTypes::objectToValue(object);
    }
    const auto address = reinterpret_cast<std::uintptr_t>(object.get());
    Set& set = sets_[((address >> 4) ^ (address >> 10)) & (sets_.size() - 1)];
    for (const Slot& slot : set.slots) {
      if (slot.object == object.get() && !slot.guard.expired()) return slot.value;
    }
    ValuePtr value = MOXTypes::objectToValue(object);
    set.slots[set.next] = Slot{object.get(), object, value};
    set.next = (set.next + 1) % set.slots.size();
    return value;
  }

 private:
  struct Slot {
    const Object* object = nullptr;
    std::weak_ptr<Object> guard;
    ValuePtr value;
  };
  struct Set {
    std::array<Slot, 4> slots;
    std::size_t next = 0;  // the slot a miss replaces: the one filled longest ago
  };
  std::array<Set, 16> sets_;
};

}  // namespace

const std::string& MOXDataLayerMacro::functionId() {
  static const std::string id = "_v";
  return id;
}
const std::string& MOXDataLayerMacro::nameKey() {
  static const std::string key = "name";
  return key;
}
const std::string& MOXDataLayerMacro::defaultValueKey() {
  static const std::string key = "default_value";
  return key;
}

MOXDataLayerMacro::MOXDataLayerMacro(std::shared_ptr<MOXDataLayer> dataLayer)
    : MOXFunctionCallImplementation(functionId(), {nameKey()}), dataLayer_(std::move(dataLayer)) {}

ValuePtr MOXDataLayerMacro::evaluate(const MOXParameterMap& parameters) {
  const ValuePtr* name = parameters.find(nameKey());
  if (!name || !*name || !dataLayer_) return MOXTypes::defaultValue();
  const MOXPValue& nameValue = **name;
  const ObjectPtr object = nameValue.type() == MOXPValue::String && nameValue.has_string()
                               ? dataLayer_->get(nameValue.string())
                               : dataLayer_->get(MOXTypes::valueToString(*name)->text());
  if (object) {
    if (isNull(object)) return MOXTypes::defaultValue();
    thread_local ConversionMemo memo;
    return memo.valueFor(object);
  }
  ValuePtr fallback = parameters.get(defaultValueKey());
  return fallback ? fallback : MOXTypes::defaultValue();
}

}  // namespace loomset
