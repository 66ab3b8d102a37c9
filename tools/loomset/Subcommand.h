// What the `loomset` tool's main knows of a subcommand. Subcommands are listed in
// Subcommands.def, one line each; the file of a subcommand NAME defines
// `int NAMEMain(const std::vector<std::string>& args)` (the arguments after NAME) and throws
// UsageError (Arguments.h) for a command line it cannot use.
#pragma once

#include <string>
#include <vector>

namespace loomset::tools {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUsage = 1;
// The input (a source, a container, a message) is unreadable or invalid.
inline constexpr int kExitInvalid = 2;

struct Subcommand {
  const char* name;
  const char* usage;  // what follows "loomset NAME"
  const char* summary;
  int (*main)(const std::vector<std::string>& args);
};

}  // namespace loomset::tools
