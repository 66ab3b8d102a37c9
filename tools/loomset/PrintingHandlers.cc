#include "tools/loomset/PrintingHandlers.h"

#include "tools/loomset/Arguments.h"
#include "tools/loomset/JsonObjects.h"

namespace loomset::tools {

void PrintingTagHandler::execute(const std::string& tagName,
                                 const std::shared_ptr<Dictionary>& parameters) {
  Json line = Json::object();
  line["tag"] = tagName;
  line["params"] = parameters ? objectToJson(parameters) : Json::object();
  out_.write(line);
}

ObjectPtr JsonValueMacroHandler::valueForMacro(const std::string&,
                                               const std::shared_ptr<Dictionary>&) {
  return jsonToObject(value_);
}

std::pair<std::string, Json> parseMacroHandlerOption(const std::string& option) {
  const auto eq = option.find('=');
  if (eq == std::string::npos || eq == 0) {
    throw UsageError("--macro-handler takes NAME=JSON, not \"" + option + "\"");
  }
  try {
    return {option.substr(0, eq), parseStrictJson(option.substr(eq + 1))};
  } catch (const JsonInputError& e) {
    throw UsageError("--macro-handler " + option.substr(0, eq) +
                     ": the value is not JSON: " + e.what());
  }
}

}  // namespace loomset::tools
