// Conversions between JSON (as the tools read and write it) and the object model that the data
// layer, the runtime's handlers and the analytics facade work with.
//
// JSON to objects: integers become 64-bit integer numbers (integers beyond that range floating
// numbers), other numbers floating numbers, true and false `MOXBoolean`s, null the null object,
// arrays and objects arrays and dictionaries (member order kept), and exactly the object
// {"$notPresent": true} the marker kMOXDataLayerObjectNotPresent.
//
// Objects to JSON: integer numbers as integers, floating numbers in shortest round-trip form
// (non-finite ones as the strings "Infinity", "-Infinity" and "NaN", which JSON cannot hold),
// `MOXBoolean` as true or false, the null object as null, dictionaries as objects keyed by their
// keys' text forms, the marker as {"$notPresent": true}, anything else as its text form.
//
// Threads: stateless; any thread (the objects converted must not change meanwhile).
#pragma once

#include <string>

#include "loomset/Object.h"
#include "tools/loomset/StrictJson.h"

namespace loomset::tools {

ObjectPtr jsonToObject(const Json& json);
// Absent (null handle) converts to JSON null.
Json objectToJson(const ObjectPtr& object);
// One line of JSON; text that is not valid UTF-8 is repaired rather than refused.
std::string toJsonLine(const Json& json);

}  // namespace loomset::tools
