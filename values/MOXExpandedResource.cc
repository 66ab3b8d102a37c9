#include "loomset/MOXExpandedResource.h"

#include <cstdint>

#include "loomset/MOXTypes.h"

namespace loomset {

MOXExpandedResourceBuilder MOXExpandedResource::builder() {
  return {};
}

MOXExpandedResource::MOXExpandedResource(std::vector<MOXExpandedRulePtr> rules, MacroMap macros,
                                         std::string version, std::int32_t resourceFormatVersion)
    : rules_(std::move(rules)),
      macros_(std::move(macros)),
      version_(std::move(version)),
      resourceFormatVersion_(resourceFormatVersion) {
  macroIndex_.reserve(macros_.size());
  for (std::size_t i = 0; i < macros_.size(); ++i) macroIndex_.emplace(macros_[i].first, i);
  numberCalls();
}

void MOXExpandedResource::numberCalls() {
  std::size_t references = 0;
  for (const auto& rule : rules_) {
    references += rule->positivePredicates().size() + rule->negativePredicates().size() +
                  rule->addTags().size() + rule->removeTags().size() + rule->addMacros().size() +
                  rule->removeMacros().size();
  }
  for (const auto& [name, calls] : macros_) references += calls.size();
  std::size_t capacity = 8;
  while (capacity < 2 * references) capacity *= 2;  // at most half full
  ordinalSlots_.assign(capacity, {nullptr, 0});

  auto number = [this](const MOXExpandedFunctionCall* call) {
    if (!call) return;
    auto& slot = ordinalSlots_[ordinalSlot(call)];
    if (slot.first) return;
    slot = {call, calls_.size()};
    calls_.push_back(call);
  };
  for (const auto& rule : rules_) {
    for (const auto* list :
         {&rule->positivePredicates(), &rule->negativePredicates(), &rule->addTags(),
          &rule->removeTags(), &rule->addMacros(), &rule->removeMacros()}) {
      for (const auto& call : *list) number(call.get());
    }
  }
  for (const auto& [name, calls] : macros_) {
    for (const auto& call : calls) number(call.get());
  }
}

std::size_t MOXExpandedResource::ordinalSlot(const MOXExpandedFunctionCall* call) const {
  const std::size_t mask = ordinalSlots_.size() - 1;
  // Calls are heap objects: the low bits say little, the multiplication spreads the rest.
  std::size_t at =
      static_cast<std::size_t>(
          (reinterpret_cast<std::uintptr_t>(call) >> 4) * 0x9E3779B97F4A7C15ull >> 32) &
      mask;
  while (ordinalSlots_[at].first && ordinalSlots_[at].first != call) at = (at + 1) & mask;
  return at;
}

std::size_t MOXExpandedResource::ordinalOf(const MOXExpandedFunctionCall& call) const {
  const auto& slot = ordinalSlots_[ordinalSlot(&call)];
  return slot.first ? slot.second : kNoOrdinal;
}

const MOXExpandedResource::Calls* MOXExpandedResource::macrosByName(std::string_view name) const {
  auto it = macroIndex_.find(std::string(name));
  return it == macroIndex_.end() ? nullptr : &macros_[it->second].second;
}

std::string MOXExpandedResource::description() const {
  std::string text = "Rules: (";
  for (std::size_t i = 0; i < rules_.size(); ++i) {
    if (i > 0) text += ", ";
    text += rules_[i]->description();
  }
  text += ")  Macros: {";
  for (std::size_t i = 0; i < macros_.size(); ++i) {
    if (i > 0) text += ", ";
    text += macros_[i].first + "=(";
    for (std::size_t j = 0; j < macros_[i].second.size(); ++j) {
      if (j > 0) text += ", ";
      text += macros_[i].second[j]->description();
    }
    text += ")";
  }
  text += "}  Version: " + version_ + " Format: " + std::to_string(resourceFormatVersion_);
  return text;
}

MOXExpandedResourceBuilder& MOXExpandedResourceBuilder::addRule(MOXExpandedRulePtr rule) {
  if (rule) rules_.push_back(std::move(rule));
  return *this;
}

MOXExpandedResourceBuilder& MOXExpandedResourceBuilder::addMacro(MOXExpandedFunctionCallPtr call) {
  if (!call) return *this;
  std::string name;
  if (ValuePtr instanceName = call->propertyForKey(MOXExpandedFunctionCall::instanceNameKey())) {
    name = MOXTypes::valueToString(instanceName)->text();
  }
  auto it = macroIndex_.find(name);
  if (it == macroIndex_.end()) {
    it = macroIndex_.emplace(name, macros_.size()).first;
    macros_.emplace_back(std::move(name), MOXExpandedResource::Calls{});
  }
  macros_[it->second].second.push_back(std::move(call));
  return *this;
}

MOXExpandedResourceBuilder& MOXExpandedResourceBuilder::setVersion(std::string version) {
  version_ = std::move(version);
  return *this;
}

MOXExpandedResourceBuilder& MOXExpandedResourceBuilder::setResourceFormatVersion(
    std::int32_t version) {
  resourceFormatVersion_ = version;
  return *this;
}

MOXExpandedResourcePtr MOXExpandedResourceBuilder::build() const {
  return std::make_shared<const MOXExpandedResource>(rules_, macros_, version_,
                                                     resourceFormatVersion_);
}

}  // namespace loomset
