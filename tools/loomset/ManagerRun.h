// `loomset run --container-id ID`: the library's real manager and containers driven by JSON
// Lines steps, on simulated time (`--clock-start`) or on real time. See docs/tools.md.
#pragma once

#include "tools/loomset/Arguments.h"

namespace loomset::tools {

// The options `loomset run` knows in this mode and not in the CONTAINER one.
inline constexpr const char* kManagerRunOptions[] = {
    "--container-id", "--container-server", "--bundle",         "--refresh-mode",
    "--clock-start",  "--collector-secure", "--collector-plain"};
// Takes two values: the wrapper URL and its query parameter.
inline constexpr const char* kPixelWrapperOption = "--pixel-wrapper";

// `parsed` holds --container-id. Throws UsageError for options this mode cannot use.
int runWithContainerId(const Arguments& parsed);

}  // namespace loomset::tools
