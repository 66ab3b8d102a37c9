#include "tools/loomset/CallWarnings.h"

namespace loomset::tools {
namespace {

std::string quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

}  // namespace

std::vector<std::string> callWarnings(const std::string& path, MOXCallRole role,
                                      std::string_view functionId,
                                      const std::vector<std::string>& keys) {
  const MOXCallCheck check = MOXImplementationTable::builtIn().check(role, functionId, keys);
  std::vector<std::string> warnings;
  if (check.unknownFunctionId) {
    std::string text = path + ".function: no " + MOXCallRoleName(role) +
                       " implementation has the function id " + quoted(functionId);
    for (std::size_t i = 0; i < check.otherRoles.size(); ++i) {
      text += i == 0 ? " (a " : " and a ";
      text += MOXCallRoleName(check.otherRoles[i]);
      text += " implementation";
    }
    if (!check.otherRoles.empty()) text += check.otherRoles.size() == 1 ? " has it)" : " have it)";
    warnings.push_back(std::move(text));
  }
  if (!check.missingKeys.empty()) {
    std::string text = path + ": the " + quoted(functionId) + " " + MOXCallRoleName(role) +
                       " needs the propert" + (check.missingKeys.size() == 1 ? "y " : "ies ");
    for (std::size_t i = 0; i < check.missingKeys.size(); ++i) {
      if (i > 0) text += ", ";
      text += quoted(check.missingKeys[i]);
    }
    warnings.push_back(std::move(text));
  }
  return warnings;
}

}  // namespace loomset::tools
