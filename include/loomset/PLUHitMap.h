// The hit map: one analytics hit as a flat map from protocol parameter name ("&t", "&tid", ...)
// to its text, or to the null marker. The null marker is present but empty: it masks a tracker
// field of the same key and is never put on the wire. Keys without a leading "&" ("pluVersion",
// "useSecure") travel with a hit but are never sent.
//
// Plain values; a map is owned by whoever holds it and is not synchronised.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <type_traits>

#include "loomset/Export.h"
#include "loomset/Object.h"

namespace loomset {

// Text, or std::nullopt for the null marker.
using PLUHitValue = std::optional<std::string>;
inline constexpr std::nullopt_t kPLUNullMarker = std::nullopt;

using PLUHitMap = std::map<std::string, PLUHitValue, std::less<>>;

// The result handed to dispatch completion handlers.
enum PLUDispatchOutcome : int {
  kPLUDispatchNothingToSend = 0,
  kPLUDispatchSent = 1,
  kPLUDispatchFailed = 2,
};

// A number argument of the hit builders: absent (nil), an integer, a floating number or a
// platform boolean. Its wire text is the number's decimal text; an absent number, or an object
// that is not a number, becomes the null marker.
class LOOMSET_EXPORT PLUNumber {
 public:
  PLUNumber() = default;
  PLUNumber(std::nullopt_t) {}                         // NOLINT: nil reads naturally at call sites
  PLUNumber(bool value) : text_(value ? "1" : "0") {}  // NOLINT
  template <typename T,
            std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
  PLUNumber(T value) : text_(std::to_string(value)) {}               // NOLINT
  PLUNumber(double value);                                           // NOLINT
  PLUNumber(float value) : PLUNumber(static_cast<double>(value)) {}  // NOLINT
  // An object of the value model; anything but a number is nil.
  explicit PLUNumber(const ObjectPtr& object);

  bool isNil() const { return !text_.has_value(); }
  // The hit value: the decimal text, or the null marker.
  const PLUHitValue& hitValue() const { return text_; }

 private:
  PLUHitValue text_;
};

}  // namespace loomset
