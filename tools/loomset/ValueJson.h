// Expanded Values written back in the container source's notation (see SourceCompiler.h), so
// that what `loomset inspect` shows can be read, and pasted, as source: plain JSON for strings,
// integers, booleans, lists and maps with text keys, and tagged objects for macro references
// ({"$macro": NAME, "$escape": [...]}), function ids, templates and other maps.
//
// Threads: stateless; any thread.
#pragma once

#include "loomset/MOXPValue.h"
#include "tools/loomset/StrictJson.h"

namespace loomset::tools {

// An expanded Value (children held directly, macro references by name).
Json valueToSourceJson(const MOXPValue& value);

}  // namespace loomset::tools
