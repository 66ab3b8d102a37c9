#include "tools/loomset/DataLayerSteps.h"

#include <memory>

#include "loomset/Objects.h"
#include "tools/loomset/JsonObjects.h"

namespace loomset::tools {

void pushStep(StepReporter& report, MOXDataLayer& dataLayer, const JsonLine& line,
              const Json& step) {
  if (!report.onlyMembers(line, step, {"push"})) return;
  const Json& update = step.at("push");
  if (!update.is_object()) {
    return report.invalid(line, "\"push\" must be an object, not " + describeJsonKind(update));
  }
  const auto dictionary = std::dynamic_pointer_cast<Dictionary>(jsonToObject(update));
  if (!dictionary) return report.invalid(line, "\"push\" must be an object, not the marker");
  report.guarded([&] { dataLayer.push(dictionary); });
}

void dlStep(StepReporter& report, MOXDataLayer& dataLayer, const JsonLine& line, const Json& step) {
  if (!report.onlyMembers(line, step, {"dl"})) return;
  const std::string* path = report.text(line, step, "dl");
  if (!path) return;
  Json out = Json::object();
  out["dl"] = *path;
  if (const ObjectPtr value = dataLayer.get(*path)) {
    out["value"] = objectToJson(value);
  } else {
    out["absent"] = true;
  }
  report.out().write(out);
}

void clearStep(StepReporter& report, MOXDataLayer& dataLayer, const JsonLine& line,
               const Json& step) {
  if (!report.onlyMembers(line, step, {"clear"})) return;
  const std::string* prefix = report.text(line, step, "clear");
  if (!prefix) return;
  report.guarded([&] { dataLayer.clearPersistentKeysWithPrefix(*prefix); });
}

std::optional<std::string> getStepType(StepReporter& report, const JsonLine& line,
                                       const Json& step) {
  if (!step.contains("type")) return "string";
  const std::string* type = report.text(line, step, "type");
  if (!type) return std::nullopt;
  if (*type == "string" || *type == "boolean" || *type == "double" || *type == "int64") {
    return *type;
  }
  report.invalid(line, "unknown type \"" + *type +
                           "\" (expected \"string\", \"boolean\", \"double\" or \"int64\")");
  return std::nullopt;
}

void writeGetLine(StepReporter& report, const std::string& key, const std::string& type,
                  const TypedGetters& getters) {
  Json value;
  if (type == "boolean") {
    value = getters.boolean(key);
  } else if (type == "double") {
    value = objectToJson(Number::float64(getters.float64(key)));
  } else if (type == "int64") {
    value = getters.int64(key);
  } else {
    value = getters.string(key);
  }
  Json out = Json::object();
  out["get"] = key;
  out["type"] = type;
  out["value"] = std::move(value);
  report.out().write(out);
}

}  // namespace loomset::tools
