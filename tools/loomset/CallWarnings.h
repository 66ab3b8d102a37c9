// The warnings `loomset compile` and `loomset inspect` give for calls the library cannot run,
// checked against the library's own table of implementations (MOXImplementationTable):
//
//   PATH.function: no macro implementation has the function id "_zz"
//   PATH.function: no macro implementation has the function id "_dlw" (a tag implementation has it)
//   PATH: the "_v" macro needs the property "name"
//   PATH: the "_eq" predicate needs the properties "arg0", "arg1"
//
// PATH names the call: its JSON path in a source ("$.macros.screenName"), or its role and label
// in an inspected model ("macros.color#1").
//
// Threads: stateless; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "loomset/MOXImplementationTable.h"

namespace loomset::tools {

// One line per problem of the call with the role, function id and property keys (the reserved
// "function" and "instance_name" included); none when the library can run it.
std::vector<std::string> callWarnings(const std::string& path, MOXCallRole role,
                                      std::string_view functionId,
                                      const std::vector<std::string>& keys);

}  // namespace loomset::tools
