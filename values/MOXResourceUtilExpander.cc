#include "values/MOXResourceUtilExpander.h"

#include <algorithm>

#include "loomset/MOXLog.h"
#include "loomset/MOXResourceUtil.h"
#include "loomset/MOXTypes.h"
#include "values/MOXResourceUtilSteps.h"

namespace loomset {
namespace {

// A negative index counts as beyond the end; it is shown the way an unsigned long shows it.
std::size_t checkedIndex(std::int32_t index, std::size_t size, const char* listName) {
  if (index < 0 || static_cast<std::size_t>(index) >= size) {
    const auto shown = static_cast<unsigned long>(static_cast<long>(index));
    MOXResourceUtilSteps::logAndThrow("Index out of bounds detected: " + std::to_string(shown) +
                                      " in " + listName);
  }
  return static_cast<std::size_t>(index);
}

}  // namespace

MOXResourceExpander::MOXResourceExpander(std::shared_ptr<google::protobuf::Arena> arena,
                                         const MOXPResource& resource)
    : arena_(std::move(arena)), resource_(resource) {}

MOXExpandedResourcePtr MOXResourceExpander::expand() {
  const std::size_t count = static_cast<std::size_t>(resource_.value_size());
  expanded_.assign(count, nullptr);
  shapes_.assign(count, Shape{});
  pending_.assign(count, false);
  for (std::size_t i = 0; i < count; ++i) {
    pendingOrder_.clear();
    expandIthValue(static_cast<std::int32_t>(i));
  }

  std::vector<MOXExpandedFunctionCallPtr> tags, predicates, macros;
  tags.reserve(static_cast<std::size_t>(resource_.tag_size()));
  for (const auto& call : resource_.tag()) tags.push_back(expandFunctionCall(call));
  predicates.reserve(static_cast<std::size_t>(resource_.predicate_size()));
  for (const auto& call : resource_.predicate()) predicates.push_back(expandFunctionCall(call));

  MOXExpandedResourceBuilder builder;
  macros.reserve(static_cast<std::size_t>(resource_.macro_size()));
  for (const auto& call : resource_.macro()) {
    macros.push_back(expandFunctionCall(call));
    builder.addMacro(macros.back());
  }
  for (const auto& rule : resource_.rule()) {
    builder.addRule(expandRule(rule, tags, macros, predicates));
  }
  builder.setVersion(resource_.version());
  builder.setResourceFormatVersion(resource_.resource_format_version());
  return builder.build();
}

std::string MOXResourceExpander::pendingDescription() const {
  std::string text = "{(";
  for (std::size_t i = 0; i < pendingOrder_.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(pendingOrder_[i]);
  }
  return text + ")}";
}

const MOXPValue* MOXResourceExpander::expandIthValue(std::int32_t index) {
  if (index >= 0 && static_cast<std::size_t>(index) < pending_.size() &&
      pending_[static_cast<std::size_t>(index)]) {
    MOXResourceUtilSteps::logAndThrow(
        "Value cycle detected.  Current value reference: " + std::to_string(index) +
        ".  Previous value references: " + pendingDescription() + ".");
  }
  const std::size_t i = checkedIndex(index, expanded_.size(), "value");
  if (expanded_[i]) return expanded_[i];
  if (pendingOrder_.size() >= MOXResourceUtil::kMaxValueNesting) {
    MOXResourceUtilSteps::logAndThrow(
        "Value nesting too deep.  Current value reference: " + std::to_string(index) + ".");
  }

  pending_[i] = true;
  pendingOrder_.push_back(index);
  const MOXPValue& entry = resource_.value(index);
  const MOXPValue* result = nullptr;
  Shape shape;
  switch (entry.type()) {
    case MOXPValue::String:
    case MOXPValue::FunctionId:
    case MOXPValue::Integer:
    case MOXPValue::Boolean:
      result = &entry;
      break;
    case MOXPValue::List:
    case MOXPValue::Map:
    case MOXPValue::MacroReference:
    case MOXPValue::Template:
      result = expandComposite(entry, &shape);
      break;
    case MOXPValue::TagReference:
      MOXLog::warning("Tag type of TagReference shouldn't be present");
      MOXResourceUtilSteps::logAndThrow("Invalid value: " + valueDescription(entry));
    default:
      MOXResourceUtilSteps::logAndThrow("Invalid value: " + valueDescription(entry));
  }
  if (shape.nesting > MOXResourceUtil::kMaxValueNesting) {
    MOXResourceUtilSteps::logAndThrow(
        "Value nesting too deep.  Current value reference: " + std::to_string(index) + ".");
  }
  if (shape.nodes > MOXResourceUtil::kMaxValueNodes) {
    MOXResourceUtilSteps::logAndThrow(
        "Value too large.  Current value reference: " + std::to_string(index) + ".");
  }
  expanded_[i] = result;
  shapes_[i] = shape;
  pending_[i] = false;
  pendingOrder_.pop_back();
  return result;
}

void MOXResourceExpander::expandChildren(
    const google::protobuf::RepeatedField<std::int32_t>& indices,
    google::protobuf::RepeatedPtrField<MOXPValue>* into, Shape* shape) {
  std::size_t deepest = 0;
  into->Reserve(indices.size());
  for (std::int32_t index : indices) {
    // Every expanded Value lives in arena_, so parents may share a child without owning it.
    into->UnsafeArenaAddAllocated(const_cast<MOXPValue*>(expandIthValue(index)));
    const Shape& child = shapes_[static_cast<std::size_t>(index)];
    deepest = std::max(deepest, child.nesting);
    // Saturates just past the limit, so the sum cannot wrap.
    shape->nodes = std::min(shape->nodes + child.nodes, MOXResourceUtil::kMaxValueNodes + 1);
  }
  shape->nesting = std::max(shape->nesting, deepest + 1);
}

const MOXPValue* MOXResourceExpander::expandComposite(const MOXPValue& entry, Shape* shape) {
  const MOXPServingValue& serving = MOXResourceUtilSteps::servingValue(entry);
  auto* result = google::protobuf::Arena::CreateMessage<MOXPValue>(arena_.get());
  MOXResourceUtilSteps::copyBasics(entry, result);
  switch (entry.type()) {
    case MOXPValue::List:
      expandChildren(serving.list_item(), result->mutable_list_item(), shape);
      break;
    case MOXPValue::Map:
      if (serving.map_key_size() != serving.map_value_size()) {
        MOXResourceUtilSteps::logAndThrow(
            "Uneven map keys (" + std::to_string(serving.map_key_size()) + ") and map values (" +
            std::to_string(serving.map_value_size()) + ")");
      }
      expandChildren(serving.map_key(), result->mutable_map_key(), shape);
      expandChildren(serving.map_value(), result->mutable_map_value(), shape);
      break;
    case MOXPValue::MacroReference: {
      if (!serving.has_macro_name_reference()) {
        MOXResourceUtilSteps::logAndThrow("Missing macro name reference");
      }
      const MOXPValue* name = expandIthValue(serving.macro_name_reference());
      result->set_macro_reference(MOXTypes::valueToString(name)->text());
      break;
    }
    default:  // Template
      expandChildren(serving.template_token(), result->mutable_template_token(), shape);
      break;
  }
  return result;
}

MOXExpandedFunctionCallPtr MOXResourceExpander::expandFunctionCall(const MOXPFunctionCall& call) {
  static const std::string kPushAfterEvaluate = "push_after_evaluate";
  MOXExpandedFunctionCallBuilder builder;
  for (std::int32_t propertyIndex : call.property()) {
    const MOXPProperty& property = resource_.property(
        static_cast<int>(checkedIndex(propertyIndex, resource_.property_size(), "properties")));
    const std::string& key =
        resource_.key(static_cast<int>(checkedIndex(property.key(), resource_.key_size(), "keys")));
    const MOXPValue* value = expanded_[checkedIndex(property.value(), expanded_.size(), "values")];
    if (key == kPushAfterEvaluate) {
      builder.setPushAfterEvaluate(share(value));
    } else {
      builder.addPropertyWithValue(share(value), key);
    }
  }
  return builder.build();
}

MOXExpandedRulePtr MOXResourceExpander::expandRule(
    const MOXPRule& rule, const std::vector<MOXExpandedFunctionCallPtr>& tags,
    const std::vector<MOXExpandedFunctionCallPtr>& macros,
    const std::vector<MOXExpandedFunctionCallPtr>& predicates) {
  MOXExpandedRuleBuilder builder;
  for (std::int32_t i : rule.positive_predicate()) {
    builder.addPositivePredicate(predicates[checkedIndex(i, predicates.size(), "predicates")]);
  }
  for (std::int32_t i : rule.negative_predicate()) {
    builder.addNegativePredicate(predicates[checkedIndex(i, predicates.size(), "predicates")]);
  }
  for (std::int32_t i : rule.add_tag()) {
    builder.addAddTag(tags[checkedIndex(i, tags.size(), "tags")]);
  }
  for (std::int32_t i : rule.remove_tag()) {
    builder.addRemoveTag(tags[checkedIndex(i, tags.size(), "tags")]);
  }
  for (std::int32_t i : rule.add_macro()) {
    builder.addAddMacro(macros[checkedIndex(i, macros.size(), "macros")]);
  }
  for (std::int32_t i : rule.remove_macro()) {
    builder.addRemoveMacro(macros[checkedIndex(i, macros.size(), "macros")]);
  }
  return builder.build();
}

}  // namespace loomset
