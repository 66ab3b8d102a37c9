// `loomset inspect FILE [--as resource|supplemented|saved]`: the message's text form, then the
// model it expands to, and the calls in it the library cannot run. Exit status 2 when the file is
// not such a message or does not expand.
#include <iostream>
#include <string>
#include <vector>

#include <google/protobuf/text_format.h>

#include "tools/loomset/Arguments.h"
#include "tools/loomset/ContainerFile.h"
#include "tools/loomset/ModelPrinter.h"
#include "tools/loomset/Subcommand.h"

namespace loomset::tools {

int inspectMain(const std::vector<std::string>& args) {
  const Arguments parsed = Arguments::parse(args, OptionSpec{{"--as"}, {}, {}, {}});
  if (parsed.positionals().size() != 1) throw UsageError("expected exactly one FILE");
  const std::string& file = parsed.positionals()[0];
  MessageKind kind = MessageKind::Resource;
  if (const auto as = parsed.value("--as")) {
    const auto named = messageKindNamed(*as);
    if (!named) throw UsageError("--as takes resource, supplemented or saved, not \"" + *as + "\"");
    kind = *named;
  }

  const auto failed = [&](const std::string& reason) {
    std::cerr << "loomset inspect: " << file << ": " << reason << "\n";
    return kExitInvalid;
  };

  ContainerMessage message;
  try {
    message = parseContainerMessage(readWholeFile(file), kind);
  } catch (const ContainerFileError& e) {
    return failed(e.what());
  }

  std::string text;
  google::protobuf::TextFormat::PrintToString(*message.message, &text);
  std::cout << "# " << messageTypeName(kind) << "\n" << text;

  if (!message.missingFields.empty()) {
    const std::string reason = "incomplete message: missing required " + message.missingFields;
    std::cout << "\n# Invalid\n" << reason << "\n";
    return failed(reason);
  }
  if (!message.resource) {
    std::cout << "\n# Expanded model\n(no resource)\n";
    return kExitSuccess;
  }
  MOXExpandedResourcePtr expanded;
  try {
    expanded = expandExplained(*message.resource);
  } catch (const ContainerFileError& e) {
    std::cout << "\n# Expansion error\n" << e.what() << "\n";
    return failed(e.what());
  }
  std::cout << "\n# Expanded model\n";
  printExpandedModel(*expanded, std::cout);
  const std::vector<std::string> warnings = expandedModelCallWarnings(*expanded);
  if (!warnings.empty()) {
    std::cout << "\n# Call warnings\n";
    for (const std::string& warning : warnings) {
      std::cout << warning << "\n";
      std::cerr << "loomset inspect: warning: " << file << ": " << warning << "\n";
    }
  }
  return kExitSuccess;
}

}  // namespace loomset::tools
