#include "tools/loomset/ModelPrinter.h"

#include <map>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "loomset/MOXTypes.h"
#include "tools/loomset/CallWarnings.h"
#include "tools/loomset/JsonObjects.h"
#include "tools/loomset/ValueJson.h"

namespace loomset::tools {
namespace {

using Call = MOXExpandedFunctionCall;

std::string instanceName(const Call& call) {
  const ValuePtr name = call.propertyForKey(MOXExpandedFunctionCall::instanceNameKey());
  if (!name) return "";
  if (name->type() == MOXPValue::String) return name->string();
  return toJsonLine(valueToSourceJson(*name));
}

// Labels calls by instance name, adding "#i" where several distinct calls share one.
class Labels {
 public:
  void add(const Call* call, const std::string& name) {
    if (names_.count(call)) return;
    order_.push_back(call);
    names_[call] = name.empty() ? "(unnamed)" : name;
    ++shared_[names_[call]];
  }
  // Fixes labels once every call is known.
  void finish() {
    std::map<std::string, int> seen;
    for (const Call* call : order_) {
      const std::string& name = names_[call];
      labels_[call] = shared_[name] > 1 ? name + "#" + std::to_string(seen[name]++) : name;
    }
  }
  const std::string& label(const Call* call) const { return labels_.at(call); }
  const std::vector<const Call*>& calls() const { return order_; }

 private:
  std::vector<const Call*> order_;
  std::unordered_map<const Call*, std::string> names_;
  std::map<std::string, int> shared_;
  std::unordered_map<const Call*, std::string> labels_;
};

std::string describeCall(const Call& call) {
  Json properties = Json::object();
  for (const auto& [key, value] : call.properties()) {
    properties[key] = value ? valueToSourceJson(*value) : Json(nullptr);
  }
  std::string text = toJsonLine(properties);
  if (call.pushAfterEvaluate()) {
    text += "\n        push_after_evaluate: " +
            toJsonLine(valueToSourceJson(*call.pushAfterEvaluate()));
  }
  return text;
}

// The call a lookup of the name falls back to: the last one not flagged "not_default_macro", as
// the runtime chooses it.
const Call* defaultCall(const MOXExpandedResource::Calls& calls) {
  const Call* chosen = nullptr;
  for (const auto& call : calls) {
    const ValuePtr flag = call->propertyForKey(MOXExpandedFunctionCall::notDefaultMacroKey());
    if (flag && MOXTypes::valueToBoolean(flag)->boolValue()) continue;
    chosen = call.get();
  }
  return chosen;
}

void printList(std::ostream& out, const char* title, const MOXExpandedRule::Calls& calls,
               const Labels& labels) {
  if (calls.empty()) return;
  out << "    " << title << ":";
  for (const auto& call : calls) out << " " << labels.label(call.get());
  out << "\n";
}

struct ModelLabels {
  Labels macros, predicates, tags;
};

ModelLabels labelCalls(const MOXExpandedResource& resource) {
  ModelLabels labels;
  Labels& macros = labels.macros;
  Labels& predicates = labels.predicates;
  Labels& tags = labels.tags;
  for (const auto& [name, calls] : resource.allMacros()) {
    for (const auto& call : calls) macros.add(call.get(), name);
  }
  for (const auto& rule : resource.rules()) {
    for (const auto* list : {&rule->positivePredicates(), &rule->negativePredicates()}) {
      for (const auto& call : *list) predicates.add(call.get(), instanceName(*call));
    }
    for (const auto* list : {&rule->addTags(), &rule->removeTags()}) {
      for (const auto& call : *list) tags.add(call.get(), instanceName(*call));
    }
    // Expansion files every macro under its name, so rules reach no macro the map lacks.
    for (const auto* list : {&rule->addMacros(), &rule->removeMacros()}) {
      for (const auto& call : *list) macros.add(call.get(), instanceName(*call));
    }
  }
  macros.finish();
  predicates.finish();
  tags.finish();
  return labels;
}

// The function id of the call as the runtime reads it from "function".
std::string functionIdOf(const Call& call) {
  const ValuePtr function = call.propertyForKey(MOXExpandedFunctionCall::functionKey());
  return function ? function->function_id() : std::string();
}

}  // namespace

std::vector<std::string> expandedModelCallWarnings(const MOXExpandedResource& resource) {
  const ModelLabels labels = labelCalls(resource);
  std::vector<std::string> warnings;
  for (const auto& [section, role, list] :
       {std::tuple<const char*, MOXCallRole, const Labels*>{"macros", MOXCallRole::kMacro,
                                                            &labels.macros},
        {"predicates", MOXCallRole::kPredicate, &labels.predicates},
        {"tags", MOXCallRole::kTag, &labels.tags}}) {
    for (const Call* call : list->calls()) {
      std::vector<std::string> keys;
      for (const auto& property : call->properties()) keys.push_back(property.first);
      for (std::string& warning : callWarnings(std::string(section) + "." + list->label(call), role,
                                               functionIdOf(*call), keys)) {
        warnings.push_back(std::move(warning));
      }
    }
  }
  return warnings;
}

void printExpandedModel(const MOXExpandedResource& resource, std::ostream& out) {
  const ModelLabels labels = labelCalls(resource);
  const Labels& macros = labels.macros;
  const Labels& predicates = labels.predicates;
  const Labels& tags = labels.tags;

  out << "version: " << toJsonLine(resource.version()) << "\n";
  out << "resourceFormatVersion: " << resource.resourceFormatVersion() << "\n";

  out << "macros:" << (resource.allMacros().empty() ? " (none)" : "") << "\n";
  for (const auto& [name, calls] : resource.allMacros()) {
    const Call* fallback = defaultCall(calls);
    out << "  " << (name.empty() ? "\"\"" : name) << (fallback ? "" : " (no default)") << "\n";
    for (const auto& call : calls) {
      out << "    " << macros.label(call.get()) << (call.get() == fallback ? " [default]" : "")
          << ": " << describeCall(*call) << "\n";
    }
  }

  for (const auto& [title, labels] :
       {std::pair<const char*, const Labels*>{"predicates", &predicates}, {"tags", &tags}}) {
    out << title << ":" << (labels->calls().empty() ? " (none)" : "") << "\n";
    for (const Call* call : labels->calls()) {
      out << "  " << labels->label(call) << ": " << describeCall(*call) << "\n";
    }
  }

  out << "rules:" << (resource.rules().empty() ? " (none)" : "") << "\n";
  for (std::size_t i = 0; i < resource.rules().size(); ++i) {
    const MOXExpandedRule& rule = *resource.rules()[i];
    out << "  rule " << i << "\n";
    printList(out, "if", rule.positivePredicates(), predicates);
    printList(out, "unless", rule.negativePredicates(), predicates);
    printList(out, "addTags", rule.addTags(), tags);
    printList(out, "removeTags", rule.removeTags(), tags);
    printList(out, "addMacros", rule.addMacros(), macros);
    printList(out, "removeMacros", rule.removeMacros(), macros);
  }
}

}  // namespace loomset::tools
