// The expanded model of a resource in a form people read: its version, its macros by name (the
// call a lookup falls back to marked "[default]"), the tags and predicates that rules reach, and
// each rule's predicates, tags and macros by instance name. Values appear in the container
// source's notation (ValueJson.h).
//
// Threads: stateless; any thread.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "loomset/MOXExpandedResource.h"

namespace loomset::tools {

void printExpandedModel(const MOXExpandedResource& resource, std::ostream& out);
// The calls of the model the library cannot run (CallWarnings.h), each named by its section and
// label as printed ("macros.color#1", "tags.record").
std::vector<std::string> expandedModelCallWarnings(const MOXExpandedResource& resource);

}  // namespace loomset::tools
