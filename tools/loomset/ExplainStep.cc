#include "tools/loomset/ExplainStep.h"

#include <utility>

#include "loomset/Objects.h"
#include "tools/loomset/JsonObjects.h"

namespace loomset::tools {

Json explanationJson(const MOXValueExplanation& why) {
  Json out = Json::object();
  out["containerVersion"] = why.containerVersion;
  if (why.call) {
    Json call = Json::object();
    call["instanceName"] = why.call->instanceName;
    call["position"] = why.call->position;
    if (why.call->rule) {
      call["rule"] = *why.call->rule;
    } else {
      call["default"] = true;
    }
    out["call"] = std::move(call);
  } else {
    out["call"] = nullptr;
  }
  out["static"] = why.isStatic;
  out["fromStaticCache"] = why.fromStaticCache;
  out["failure"] = MOXValueFailureName(why.failure);
  if (why.failure != MOXValueFailure::kNone) out["failureReason"] = why.failureReason;
  return out;
}

void writeExplainLine(StepReporter& report, const std::string& key, const std::string& type,
                      const DetailGetters& getters) {
  Json value;
  MOXValueExplanation why;
  if (type == "boolean") {
    MOXBooleanDetail detail = getters.boolean(key);
    value = detail.value;
    why = std::move(detail.why);
  } else if (type == "double") {
    MOXDoubleDetail detail = getters.float64(key);
    value = objectToJson(Number::float64(detail.value));
    why = std::move(detail.why);
  } else if (type == "int64") {
    MOXInt64Detail detail = getters.int64(key);
    value = detail.value;
    why = std::move(detail.why);
  } else {
    MOXStringDetail detail = getters.string(key);
    value = std::move(detail.value);
    why = std::move(detail.why);
  }
  Json out = Json::object();
  out["explain"] = key;
  out["type"] = type;
  out["value"] = std::move(value);
  Json explanation = explanationJson(why);
  for (auto& [member, item] : explanation.items()) out[member] = std::move(item);
  report.out().write(out);
}

}  // namespace loomset::tools
