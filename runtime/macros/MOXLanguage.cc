#include "runtime/macros/MOXLanguage.h"

#include "loomset/MOXTypes.h"
#include "loomset/platform/Platform.h"
#include "runtime/macros/MOXMacroValues.h"

namespace loomset {

const std::string& MOXLanguage::functionId() {
  static const std::string id = "_l";
  return id;
}

std::optional<std::string> MOXLanguage::firstLanguage(const std::vector<std::string>& preferred) {
  if (preferred.empty() || preferred.front().empty()) return std::nullopt;
  std::string language = preferred.front();
  for (char& c : language) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return language;
}

ValuePtr MOXLanguage::evaluate(const MOXParameterMap&) {
  std::optional<std::string> language =
      firstLanguage(Platform::current()->device.preferredLanguages);
  if (!language) return MOXTypes::defaultValue();
  return macrovalues::stringValue(std::move(*language));
}

}  // namespace loomset
