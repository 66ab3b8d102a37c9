// The object side of the value model: what applications push into the data layer, what
// conversions produce and what handlers receive.
//
// Every object is reached through a shared handle (`ObjectPtr`), so "the same object" is a
// pointer comparison. Sentinels (the default values of `MOXTypes`,
// `kMOXDataLayerObjectNotPresent`) are recognised by identity only; a genuine empty string or 0
// is never taken for one. A null `ObjectPtr` stands for "no object"; the explicit null object
// (`Null::null()`) is a value in its own right.
//
// Threads: immutable kinds (strings, numbers, null, markers, values, bytes, dates) may be shared
// freely. Arrays, dictionaries and `MOXBoolean` are mutable; whoever owns one guards it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "loomset/Export.h"

namespace loomset {

class Object;
using ObjectPtr = std::shared_ptr<Object>;

enum class ObjectKind {
  String,
  Number,
  Boolean,  // MOXBoolean
  Array,
  Dictionary,
  Null,    // the explicit null object
  Marker,  // an identity-only object such as kMOXDataLayerObjectNotPresent
  Value,   // a MOXPValue carried as an object
  Data,    // bytes
  Date,
  Other,  // an application object the value model does not know
};

class LOOMSET_EXPORT Object {
 public:
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  virtual ObjectKind kind() const = 0;
  // The class name that log lines show ("NSString", "MOXBoolean", ...).
  virtual std::string className() const = 0;
  // The text form ("%@" in log lines).
  virtual std::string description() const = 0;
  // Value equality; identity-only kinds compare by address.
  virtual bool isEqual(const Object& other) const { return this == &other; }
  virtual std::size_t hash() const;

 protected:
  Object() = default;
};

// Equality and hashing of handles by content, for unordered containers keyed by objects.
struct ObjectHash {
  std::size_t operator()(const ObjectPtr& o) const { return o ? o->hash() : 0; }
};
struct ObjectEqual {
  bool operator()(const ObjectPtr& a, const ObjectPtr& b) const {
    if (a == b) return true;
    if (!a || !b) return false;
    return a->isEqual(*b);
  }
};

// Text of a possibly absent object: its description, or "nil".
LOOMSET_EXPORT std::string describe(const ObjectPtr& object);
LOOMSET_EXPORT std::string describe(const Object* object);

}  // namespace loomset
