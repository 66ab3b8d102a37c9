// Default containers shipped as JSON or as a property list: the readers that turn such a file
// into an object tree, and the expansion of that tree into a resource of constant macros, one
// per member of the top-level object (its name is the macro name, its value the constant).
//
// Threads: stateless; every operation may be called from any thread.
#pragma once

#include <cstddef>
#include <string_view>

#include "loomset/Export.h"
#include "loomset/MOXExpandedResource.h"
#include "loomset/MOXPValue.h"
#include "loomset/Object.h"

namespace loomset {

class LOOMSET_EXPORT MOXSerialization {
 public:
  // Documents nested deeper than this are unreadable: deeper trees would exhaust the stack of
  // whatever walks them later.
  static constexpr std::size_t kMaxNesting = 100;

  // A resource with one "_c" macro per member of the top-level object; none when the tree's top
  // level is not an object. Raises NotSupportedException ("Type %@ is not supported") for an
  // array, an explicit null or any other kind that a constant cannot hold.
  static MOXExpandedResourcePtr expandedResourceFromDeserializedObject(const ObjectPtr& object);
  // Booleans of the reader become MOXBoolean; dictionaries are converted member by member;
  // strings and other numbers pass through; null stays null.
  static ObjectPtr deserializedObjectToNSObject(const ObjectPtr& object);
  static ValuePtr deserializedObjectToValue(const ObjectPtr& object);

  // JSON text, a non-container top level allowed. Booleans become platform boolean numbers,
  // integers 64-bit integer numbers, other numbers floating numbers, null the null object.
  // Null (with a logged error) when the text does not parse.
  static ObjectPtr objectFromJson(std::string_view text);
  // A property list in any of the formats libplist reads. Null (with a logged error) when the
  // bytes do not parse.
  static ObjectPtr objectFromPropertyList(std::string_view bytes);
};

}  // namespace loomset
