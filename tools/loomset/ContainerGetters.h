// The container's typed value getters over a runtime: the macro named by the key is evaluated,
// its Value converted, and the type's default (the empty string, false, 0.0, 0) answered on any
// failure: no runtime, a name that names no macro, a Value that does not convert, or an exception
// raised while evaluating (logged as "Calling <getter> threw an exception: ...").
//
// Kept apart so that the tools answer exactly as an application's container would, and can switch
// to the container's own getters once there is a container to open.
//
// Threads: as MOXRuntime::evaluateMacroReference: any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "loomset/MOXRuntime.h"

namespace loomset::tools {

std::string stringForKey(const std::shared_ptr<MOXRuntime>& runtime, const std::string& key);
bool booleanForKey(const std::shared_ptr<MOXRuntime>& runtime, const std::string& key);
double doubleForKey(const std::shared_ptr<MOXRuntime>& runtime, const std::string& key);
std::int64_t int64ForKey(const std::shared_ptr<MOXRuntime>& runtime, const std::string& key);

}  // namespace loomset::tools
