// Compiles a container source, a JSON document people write, into a serving resource
// (MOXPResource). The format is described with a complete example in docs/tools.md; in short:
//
//   {"version": "7", "resourceFormatVersion": 1,
//    "macros":     {NAME: CALL, ...},
//    "predicates": {NAME: CALL, ...},
//    "tags":       {NAME: CALL, ...},
//    "rules": [{"if": [PREDICATE...], "unless": [...], "addTags": [...], "removeTags": [...],
//               "addMacros": [...], "removeMacros": [...]}]}
//
// where CALL is {"function": ID, "properties": {KEY: VALUE, ...}} (macros also take "name",
// "not_default_macro" and "push_after_evaluate") and VALUE is plain JSON or one of the tagged
// objects {"$macro": NAME, "$escape": [...]}, {"$function": ID}, {"$template": [...]} and
// {"$map": [[KEY, VALUE], ...]}.
//
// Every distinct Value, key and property is stored once and shared by index, and
// containsReferences is set on exactly the Values that hold a macro reference at any depth. The
// result is checked by expanding it as a container would.
//
// Threads: stateless; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "loomset/proto/serving.pb.h"
#include "tools/loomset/StrictJson.h"

namespace loomset::tools {

struct CompiledSource {
  MOXPResource resource;
  // Things that compile but are probably not meant, each "PATH: text".
  std::vector<std::string> warnings;
  // Calls the library cannot run: a function id no implementation of the call's role has, or a
  // required property missing (tools/loomset/CallWarnings.h); each "PATH: text". `--strict`
  // makes them errors.
  std::vector<std::string> callWarnings;
};

// Throws JsonInputError naming the JSON path of the first offending element.
CompiledSource compileContainerSource(const Json& source);
// Parses (strictly) and compiles.
CompiledSource compileContainerSourceText(std::string_view text);

}  // namespace loomset::tools
