#include "support/RuntimeTestSupport.h"

#include <gtest/gtest.h>

#include "loomset/MOXTypes.h"

namespace loomset::testing {
namespace {

bool anyReferences(std::initializer_list<ValuePtr> values) {
  for (const auto& v : values) {
    if (v->contains_references()) return true;
  }
  return false;
}

}  // namespace

ValuePtr strValue(const std::string& text) {
  auto v = std::make_shared<MOXPValue>();
  v->set_type(MOXPValue::String);
  v->set_string(text);
  return v;
}

ValuePtr intValue(std::int64_t value) {
  auto v = std::make_shared<MOXPValue>();
  v->set_type(MOXPValue::Integer);
  v->set_integer(value);
  return v;
}

ValuePtr boolValue(bool value) {
  auto v = std::make_shared<MOXPValue>();
  v->set_type(MOXPValue::Boolean);
  v->set_boolean(value);
  return v;
}

ValuePtr fnValue(const std::string& functionId) {
  return MOXTypes::functionIdToValue(functionId);
}

ValuePtr refValue(const std::string& macroName, std::vector<int> escapings) {
  auto v = std::make_shared<MOXPValue>();
  v->set_type(MOXPValue::MacroReference);
  v->set_macro_reference(macroName);
  v->set_contains_references(true);
  for (int e : escapings) v->add_escaping(static_cast<MOXPValue::Escaping>(e));
  return v;
}

ValuePtr listValue(std::initializer_list<ValuePtr> items) {
  auto v = std::make_shared<MOXPValue>();
  v->set_type(MOXPValue::List);
  for (const auto& item : items) *v->add_list_item() = *item;
  if (anyReferences(items)) v->set_contains_references(true);
  return v;
}

ValuePtr mapValue(std::initializer_list<std::pair<ValuePtr, ValuePtr>> entries) {
  auto v = std::make_shared<MOXPValue>();
  v->set_type(MOXPValue::Map);
  for (const auto& [key, value] : entries) {
    *v->add_map_key() = *key;
    *v->add_map_value() = *value;
    if (key->contains_references() || value->contains_references()) {
      v->set_contains_references(true);
    }
  }
  return v;
}

ValuePtr templateValue(std::initializer_list<ValuePtr> tokens) {
  auto v = std::make_shared<MOXPValue>();
  v->set_type(MOXPValue::Template);
  for (const auto& token : tokens) *v->add_template_token() = *token;
  if (anyReferences(tokens)) v->set_contains_references(true);
  return v;
}

MOXExpandedFunctionCallPtr makeCall(const Props& properties, ValuePtr pushAfterEvaluate) {
  MOXExpandedFunctionCallBuilder builder;
  for (const auto& [key, value] : properties) builder.addPropertyWithValue(value, key);
  builder.setPushAfterEvaluate(std::move(pushAfterEvaluate));
  return builder.build();
}

MOXExpandedFunctionCallPtr constantMacro(const std::string& name, ValuePtr value,
                                         ValuePtr pushAfterEvaluate) {
  return makeCall(
      {{"instance_name", strValue(name)}, {"function", fnValue("_c")}, {"value", std::move(value)}},
      std::move(pushAfterEvaluate));
}

MOXExpandedFunctionCallPtr dataLayerMacro(const std::string& name, const std::string& keyPath) {
  return makeCall({{"instance_name", strValue(name)},
                   {"function", fnValue("_v")},
                   {"name", strValue(keyPath)}});
}

MOXExpandedFunctionCallPtr predicateCall(const std::string& functionId, ValuePtr arg0,
                                         ValuePtr arg1) {
  return makeCall(
      {{"function", fnValue(functionId)}, {"arg0", std::move(arg0)}, {"arg1", std::move(arg1)}});
}

CountingMacro::CountingMacro(std::string functionId, bool cacheable, Body body,
                             std::vector<std::string> requiredKeys)
    : MOXFunctionCallImplementation(std::move(functionId), std::move(requiredKeys)),
      cacheable_(cacheable),
      body_(std::move(body)) {}

ValuePtr CountingMacro::evaluate(const MOXParameterMap& parameters) {
  ++calls_;
  if (body_) return body_(parameters);
  ValuePtr value = parameters.get("value");
  return value ? value : MOXTypes::defaultValue();
}

CountingTag::CountingTag(std::string functionId, OnFire onFire)
    : MOXTrackingTag(std::move(functionId), {}), onFire_(std::move(onFire)) {}

void CountingTag::evaluateTrackingTag(const MOXParameterMap& parameters) {
  ++fired_;
  if (ValuePtr name = parameters.get("name")) {
    std::lock_guard<std::mutex> lock(mu_);
    names_.push_back(MOXTypes::valueToString(name)->text());
  }
  if (onFire_) onFire_(parameters);
}

std::vector<std::string> CountingTag::names() const {
  std::lock_guard<std::mutex> lock(mu_);
  return names_;
}

int ServingResourceBuilder::addValue(const MOXPValue& value) {
  *resource_.add_value() = value;
  return resource_.value_size() - 1;
}

int ServingResourceBuilder::addString(const std::string& text) {
  return addValue(*strValue(text));
}
int ServingResourceBuilder::addInteger(std::int64_t value) {
  return addValue(*intValue(value));
}
int ServingResourceBuilder::addFunctionId(const std::string& id) {
  return addValue(*fnValue(id));
}

int ServingResourceBuilder::addList(const std::vector<int>& items, bool containsReferences) {
  MOXPValue v;
  v.set_type(MOXPValue::List);
  if (containsReferences) v.set_contains_references(true);
  auto* serving = v.MutableExtension(MOXPServingValue::ext);
  for (int i : items) serving->add_list_item(i);
  return addValue(v);
}

int ServingResourceBuilder::addMap(const std::vector<int>& keys, const std::vector<int>& values,
                                   bool containsReferences) {
  MOXPValue v;
  v.set_type(MOXPValue::Map);
  if (containsReferences) v.set_contains_references(true);
  auto* serving = v.MutableExtension(MOXPServingValue::ext);
  for (int i : keys) serving->add_map_key(i);
  for (int i : values) serving->add_map_value(i);
  return addValue(v);
}

int ServingResourceBuilder::addTemplate(const std::vector<int>& tokens, bool containsReferences) {
  MOXPValue v;
  v.set_type(MOXPValue::Template);
  if (containsReferences) v.set_contains_references(true);
  auto* serving = v.MutableExtension(MOXPServingValue::ext);
  for (int i : tokens) serving->add_template_token(i);
  return addValue(v);
}

int ServingResourceBuilder::addMacroReference(int nameIndex) {
  MOXPValue v;
  v.set_type(MOXPValue::MacroReference);
  v.set_contains_references(true);
  v.MutableExtension(MOXPServingValue::ext)->set_macro_name_reference(nameIndex);
  return addValue(v);
}

int ServingResourceBuilder::addKey(const std::string& key) {
  for (int i = 0; i < resource_.key_size(); ++i) {
    if (resource_.key(i) == key) return i;
  }
  resource_.add_key(key);
  return resource_.key_size() - 1;
}

int ServingResourceBuilder::addProperty(const std::string& key, int valueIndex) {
  auto* property = resource_.add_property();
  property->set_key(addKey(key));
  property->set_value(valueIndex);
  return resource_.property_size() - 1;
}

MOXPFunctionCall ServingResourceBuilder::call(
    const std::vector<std::pair<std::string, int>>& properties) {
  MOXPFunctionCall call;
  call.set_function(0);
  for (const auto& [key, value] : properties) call.add_property(addProperty(key, value));
  return call;
}

int ServingResourceBuilder::addMacro(const std::vector<std::pair<std::string, int>>& properties) {
  *resource_.add_macro() = call(properties);
  return resource_.macro_size() - 1;
}

int ServingResourceBuilder::addTag(const std::vector<std::pair<std::string, int>>& properties) {
  *resource_.add_tag() = call(properties);
  return resource_.tag_size() - 1;
}

int ServingResourceBuilder::addPredicate(
    const std::vector<std::pair<std::string, int>>& properties) {
  *resource_.add_predicate() = call(properties);
  return resource_.predicate_size() - 1;
}

MOXPRule* ServingResourceBuilder::addRule() {
  return resource_.add_rule();
}

std::string ServingResourceBuilder::bytes() const {
  return resource_.SerializeAsString();
}

ValuePtr evaluateDirectly(MOXFunctionCallImplementation& implementation, const Props& parameters) {
  MOXParameterMap map;
  for (const auto& [key, value] : parameters) map.append(key, value);
  return implementation.evaluate(map);
}

std::string stringResult(const ValuePtr& value) {
  EXPECT_NE(value, MOXTypes::defaultValue());
  EXPECT_EQ(value->type(), MOXPValue::String);
  return value->string();
}

}  // namespace loomset::testing
