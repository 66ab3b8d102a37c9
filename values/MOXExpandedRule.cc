#include "loomset/MOXExpandedRule.h"

namespace loomset {
namespace {

std::string describeCalls(const MOXExpandedRule::Calls& calls) {
  std::string text = "(";
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (i > 0) text += ", ";
    text += calls[i] ? calls[i]->description() : std::string("nil");
  }
  return text + ")";
}

}  // namespace

MOXExpandedRuleBuilder MOXExpandedRule::builder() {
  return {};
}

MOXExpandedRule::MOXExpandedRule(Calls positivePredicates, Calls negativePredicates, Calls addTags,
                                 Calls removeTags, Calls addMacros, Calls removeMacros)
    : positivePredicates_(std::move(positivePredicates)),
      negativePredicates_(std::move(negativePredicates)),
      addTags_(std::move(addTags)),
      removeTags_(std::move(removeTags)),
      addMacros_(std::move(addMacros)),
      removeMacros_(std::move(removeMacros)) {}

std::string MOXExpandedRule::description() const {
  return "Positive predicates: " + describeCalls(positivePredicates_) +
         "  Negative predicates: " + describeCalls(negativePredicates_) +
         "  Add tags: " + describeCalls(addTags_) + "  Remove tags: " + describeCalls(removeTags_) +
         "  Add macros: " + describeCalls(addMacros_) +
         "  Remove macros: " + describeCalls(removeMacros_);
}

MOXExpandedRuleBuilder& MOXExpandedRuleBuilder::addPositivePredicate(
    MOXExpandedFunctionCallPtr call) {
  positivePredicates_.push_back(std::move(call));
  return *this;
}
MOXExpandedRuleBuilder& MOXExpandedRuleBuilder::addNegativePredicate(
    MOXExpandedFunctionCallPtr call) {
  negativePredicates_.push_back(std::move(call));
  return *this;
}
MOXExpandedRuleBuilder& MOXExpandedRuleBuilder::addAddTag(MOXExpandedFunctionCallPtr call) {
  addTags_.push_back(std::move(call));
  return *this;
}
MOXExpandedRuleBuilder& MOXExpandedRuleBuilder::addRemoveTag(MOXExpandedFunctionCallPtr call) {
  removeTags_.push_back(std::move(call));
  return *this;
}
MOXExpandedRuleBuilder& MOXExpandedRuleBuilder::addAddMacro(MOXExpandedFunctionCallPtr call) {
  addMacros_.push_back(std::move(call));
  return *this;
}
MOXExpandedRuleBuilder& MOXExpandedRuleBuilder::addRemoveMacro(MOXExpandedFunctionCallPtr call) {
  removeMacros_.push_back(std::move(call));
  return *this;
}

MOXExpandedRulePtr MOXExpandedRuleBuilder::build() const {
  return std::make_shared<const MOXExpandedRule>(positivePredicates_, negativePredicates_, addTags_,
                                                 removeTags_, addMacros_, removeMacros_);
}

}  // namespace loomset
