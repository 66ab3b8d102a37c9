#include "tools/ToolProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "support/TempDir.h"

extern char** environ;

namespace loomset::testing {

ToolResult runTool(const std::vector<std::string>& args, const std::string& input) {
  TempDir dir;
  const std::string in = dir.file("stdin"), out = dir.file("stdout"), err = dir.file("stderr");
  writeFile(in, input);

  std::vector<std::string> argvText{LOOMSET_TOOL_PATH};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);

  ToolResult result;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": error " << spawned;
    return result;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readFile(out);
  result.err = readFile(err);
  return result;
}

std::vector<nlohmann::ordered_json> jsonLines(const std::string& out) {
  std::vector<nlohmann::ordered_json> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    try {
      lines.push_back(nlohmann::ordered_json::parse(line));
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not a JSON line: " << line << " (" << e.what() << ")";
    }
  }
  return lines;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string exampleSource(const std::string& name) {
  return std::string(LOOMSET_TOOL_EXAMPLES_DIR) + "/" + name;
}

std::string testData(const std::string& name) {
  return std::string(LOOMSET_TOOL_DATA_DIR) + "/" + name;
}

}  // namespace loomset::testing
