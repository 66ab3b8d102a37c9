// Everything of the object model in one include, plus short builders for application code:
//
//   using namespace loomset::obj;
//   dataLayer->push(dict({{"event", str("purchase")}, {"total", dbl(9.5)}}));
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "loomset/Collections.h"
#include "loomset/MOXBoolean.h"
#include "loomset/Object.h"
#include "loomset/Scalars.h"

namespace loomset {

// Typed views of a handle; null when the object is absent or of another kind.
LOOMSET_EXPORT const String* asString(const ObjectPtr& o);
LOOMSET_EXPORT const Number* asNumber(const ObjectPtr& o);
LOOMSET_EXPORT const MOXBoolean* asBoolean(const ObjectPtr& o);
LOOMSET_EXPORT Array* asArray(const ObjectPtr& o);
LOOMSET_EXPORT Dictionary* asDictionary(const ObjectPtr& o);
inline bool isNull(const ObjectPtr& o) {
  return o && o->kind() == ObjectKind::Null;
}

namespace obj {

inline ObjectPtr str(std::string text) {
  return String::create(std::move(text));
}
inline ObjectPtr i64(std::int64_t v) {
  return Number::int64(v);
}
inline ObjectPtr dbl(double v) {
  return Number::float64(v);
}
inline ObjectPtr boolean(bool v) {
  return MOXBoolean::booleanWithBool(v);
}
inline ObjectPtr null() {
  return Null::null();
}
LOOMSET_EXPORT std::shared_ptr<Array> array(std::initializer_list<ObjectPtr> items);
LOOMSET_EXPORT std::shared_ptr<Dictionary> dict(
    std::initializer_list<std::pair<std::string, ObjectPtr>> entries);

}  // namespace obj
}  // namespace loomset
