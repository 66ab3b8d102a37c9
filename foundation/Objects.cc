#include "loomset/Objects.h"

namespace loomset {

const String* asString(const ObjectPtr& o) {
  return o && o->kind() == ObjectKind::String ? static_cast<const String*>(o.get()) : nullptr;
}
const Number* asNumber(const ObjectPtr& o) {
  return o && o->kind() == ObjectKind::Number ? static_cast<const Number*>(o.get()) : nullptr;
}
const MOXBoolean* asBoolean(const ObjectPtr& o) {
  return o && o->kind() == ObjectKind::Boolean ? static_cast<const MOXBoolean*>(o.get()) : nullptr;
}
Array* asArray(const ObjectPtr& o) {
  return o && o->kind() == ObjectKind::Array ? static_cast<Array*>(o.get()) : nullptr;
}
Dictionary* asDictionary(const ObjectPtr& o) {
  return o && o->kind() == ObjectKind::Dictionary ? static_cast<Dictionary*>(o.get()) : nullptr;
}

namespace obj {

std::shared_ptr<Array> array(std::initializer_list<ObjectPtr> items) {
  auto a = Array::create();
  for (const auto& i : items) a->addObject(i);
  return a;
}

std::shared_ptr<Dictionary> dict(std::initializer_list<std::pair<std::string, ObjectPtr>> entries) {
  auto d = Dictionary::create();
  for (const auto& [k, v] : entries) d->setObject(v, k);
  return d;
}

}  // namespace obj
}  // namespace loomset
