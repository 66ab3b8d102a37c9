// The product word and version that the container half names itself by, in its User-Agent and
// wherever a request or a log line identifies the library. Constants; any thread.
#pragma once

namespace loomset {

inline constexpr char kMOXManagerProduct[] = "OrvexLoomset";
inline constexpr char kMOXManagerVersion[] = "3.17";

}  // namespace loomset
