// Runs the built `loomset` tool as a child process, with given standard input, and collects its
// exit status, standard output and standard error. The tool's path comes from the build.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace loomset::testing {

struct ToolResult {
  int exitCode = -1;  // 128 + signal number when the tool was killed by a signal
  std::string out;
  std::string err;
};

// `args` follow the program name. Waits for the tool to end.
ToolResult runTool(const std::vector<std::string>& args, const std::string& input = "");

// The lines of `out`, each parsed as JSON (a line that is not JSON fails the calling test).
std::vector<nlohmann::ordered_json> jsonLines(const std::string& out);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// Paths of the checked-in example sources and test data.
std::string exampleSource(const std::string& name);  // tools/examples/<name>
std::string testData(const std::string& name);       // tests/tools/data/<name>

}  // namespace loomset::testing
