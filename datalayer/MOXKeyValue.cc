#include <cstdint>

#include "loomset/MOXDataLayer.h"
#include "loomset/Scalars.h"

namespace loomset {

bool MOXKeyValue::operator==(const MOXKeyValue& other) const {
  return key_ == other.key_ && ObjectEqual()(value_, other.value_);
}

std::uint64_t MOXKeyValue::hash() const {
  const std::uint64_t keyHash = String::hashText(key_);
  const std::uint64_t valueHash = value_ ? value_->hash() : 0;
  return 31 * keyHash + 7 * valueHash;
}

std::string MOXKeyValue::description() const {
  return "MOXKeyValue(" + key_ + ", " + describe(value_) + ")";
}

}  // namespace loomset
