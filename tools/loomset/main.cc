// `loomset`: author, inspect and try containers without a container server.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tools/loomset/Arguments.h"
#include "tools/loomset/Subcommand.h"

namespace loomset::tools {

#define LOOMSET_SUBCOMMAND(name, usage, summary) int name##Main(const std::vector<std::string>&);
#include "tools/loomset/Subcommands.def"
#undef LOOMSET_SUBCOMMAND

namespace {

const Subcommand kSubcommands[] = {
#define LOOMSET_SUBCOMMAND(name, usage, summary) {#name, usage, summary, name##Main},
#include "tools/loomset/Subcommands.def"
#undef LOOMSET_SUBCOMMAND
};

void printUsage(std::ostream& out) {
  out << "usage: loomset COMMAND [ARGS]\n\ncommands:\n";
  for (const Subcommand& s : kSubcommands) {
    out << "  " << s.name << "  " << s.summary << "\n      loomset " << s.name << " " << s.usage
        << "\n";
  }
  out << "\nSee docs/tools.md for the source format and the step protocol.\n";
}

const char* moreHelpFor(const std::string& name) {
#define LOOMSET_SUBCOMMAND_HELP(command, text) \
  if (name == #command) return text;
#include "tools/loomset/SubcommandHelp.def"
#undef LOOMSET_SUBCOMMAND_HELP
  return "";
}

bool isHelp(const std::string& arg) {
  return arg == "--help" || arg == "-h" || arg == "help";
}

}  // namespace
}  // namespace loomset::tools

int main(int argc, char** argv) {
  using namespace loomset::tools;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    printUsage(std::cerr);
    return kExitUsage;
  }
  if (isHelp(args[0])) {
    printUsage(std::cout);
    return kExitSuccess;
  }
  for (const Subcommand& s : kSubcommands) {
    if (args[0] != s.name) continue;
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (!rest.empty() && (rest[0] == "--help" || rest[0] == "-h")) {
      std::cout << "usage: loomset " << s.name << " " << s.usage << "\n"
                << s.summary << "\n"
                << moreHelpFor(s.name);
      return kExitSuccess;
    }
    try {
      return s.main(rest);
    } catch (const UsageError& e) {
      std::cerr << "loomset " << s.name << ": " << e.what() << "\nusage: loomset " << s.name << " "
                << s.usage << "\n";
      return kExitUsage;
    } catch (const std::exception& e) {
      // Subcommands report their own failures; this is the last line of defence.
      std::cerr << "loomset " << s.name << ": " << e.what() << "\n";
      return kExitInvalid;
    }
  }
  std::cerr << "loomset: unknown command \"" << args[0] << "\"\n";
  printUsage(std::cerr);
  return kExitUsage;
}
