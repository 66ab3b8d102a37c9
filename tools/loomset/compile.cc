// `loomset compile SOURCE -o OUT [--strict]`: a container source (JSON) to a serving resource
// file.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tools/loomset/Arguments.h"
#include "tools/loomset/ContainerFile.h"
#include "tools/loomset/SourceCompiler.h"
#include "tools/loomset/Subcommand.h"

namespace loomset::tools {
namespace {

// Written next to the target and renamed over it, so a failed run never leaves half a file.
bool writeAtomically(const std::string& path, const std::string& bytes, std::string* error) {
  const std::string temporary = path + ".partial";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::remove(temporary.c_str());
      *error = "cannot write " + temporary;
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    *error = "cannot replace " + path;
    return false;
  }
  return true;
}

}  // namespace

int compileMain(const std::vector<std::string>& args) {
  const Arguments parsed = Arguments::parse(args, OptionSpec{{"-o"}, {"--strict"}, {}, {}});
  if (parsed.positionals().size() != 1) throw UsageError("expected exactly one SOURCE");
  const auto output = parsed.value("-o");
  if (!output || output->empty()) throw UsageError("missing -o OUT");
  const std::string& source = parsed.positionals()[0];

  CompiledSource compiled;
  try {
    compiled = compileContainerSourceText(readWholeFile(source));
  } catch (const ContainerFileError& e) {
    std::cerr << "loomset compile: " << e.what() << "\n";
    return kExitInvalid;
  } catch (const JsonInputError& e) {
    std::cerr << "loomset compile: " << source << ": " << e.what() << "\n";
    return kExitInvalid;
  }
  // Calls the library cannot run fail on every evaluation; under --strict they fail the build.
  const bool strict = parsed.flag("--strict");
  for (const std::string& problem : compiled.callWarnings) {
    std::cerr << "loomset compile: " << (strict ? "error: " : "warning: ") << source << ": "
              << problem << "\n";
  }
  if (strict && !compiled.callWarnings.empty()) return kExitInvalid;
  for (const std::string& warning : compiled.warnings) {
    std::cerr << "loomset compile: warning: " << source << ": " << warning << "\n";
  }

  std::string error;
  if (!writeAtomically(*output, compiled.resource.SerializeAsString(), &error)) {
    std::cerr << "loomset compile: " << error << "\n";
    return kExitInvalid;
  }
  return kExitSuccess;
}

}  // namespace loomset::tools
