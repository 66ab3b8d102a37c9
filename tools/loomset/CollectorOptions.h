// `--collector-secure URL` and `--collector-plain URL`, shared by `loomset track` and
// `loomset run --container-id`: where the analytics half sends its hits.
#pragma once

#include <optional>

#include "loomset/PLUCollectorEndpoints.h"
#include "tools/loomset/Arguments.h"

namespace loomset::tools {

inline constexpr const char* kCollectorOptions[] = {"--collector-secure", "--collector-plain"};

// The endpoints the options name; each one names the other host too when given alone, so that
// hits of a run that names one collector never go to the default hosts. Nothing when neither is
// given. Throws UsageError for a URL without a scheme.
std::optional<PLUCollectorEndpoints> collectorEndpointsFrom(const Arguments& parsed);

}  // namespace loomset::tools
