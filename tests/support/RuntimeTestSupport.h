// Builders for Values, function calls and serving resources, and counting implementations, for
// the tests of expansion, the runtime, predicates and tags.
#pragma once

#include <atomic>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "loomset/MOXExpandedFunctionCall.h"
#include "loomset/MOXFunctionCallImplementation.h"
#include "loomset/MOXTrackingTag.h"
#include "loomset/proto/serving.pb.h"

namespace loomset::testing {

// Values as the runtime sees them after expansion. Containers carry containsReferences when a
// child does.
ValuePtr strValue(const std::string& text);
ValuePtr intValue(std::int64_t value);
ValuePtr boolValue(bool value);
ValuePtr fnValue(const std::string& functionId);
ValuePtr refValue(const std::string& macroName, std::vector<int> escapings = {});
ValuePtr listValue(std::initializer_list<ValuePtr> items);
ValuePtr mapValue(std::initializer_list<std::pair<ValuePtr, ValuePtr>> entries);
ValuePtr templateValue(std::initializer_list<ValuePtr> tokens);

using Props = std::vector<std::pair<std::string, ValuePtr>>;
MOXExpandedFunctionCallPtr makeCall(const Props& properties, ValuePtr pushAfterEvaluate = nullptr);
// Named macro calls of the built-in "_c" and "_v" implementations.
MOXExpandedFunctionCallPtr constantMacro(const std::string& name, ValuePtr value,
                                         ValuePtr pushAfterEvaluate = nullptr);
MOXExpandedFunctionCallPtr dataLayerMacro(const std::string& name, const std::string& keyPath);
MOXExpandedFunctionCallPtr predicateCall(const std::string& functionId, ValuePtr arg0,
                                         ValuePtr arg1);

// Evaluates an implementation directly with the given parameters, outside any runtime.
ValuePtr evaluateDirectly(MOXFunctionCallImplementation& implementation,
                          const Props& parameters = {});
inline ValuePtr evaluateDirectly(MOXFunctionCallImplementation&& implementation,
                                 const Props& parameters = {}) {
  return evaluateDirectly(implementation, parameters);
}
// The text of a String result; any other result fails the calling test.
std::string stringResult(const ValuePtr& value);

// A macro implementation that counts its evaluations and answers `body` (its "value" parameter
// by default).
class CountingMacro : public MOXFunctionCallImplementation {
 public:
  using Body = std::function<ValuePtr(const MOXParameterMap&)>;
  CountingMacro(std::string functionId, bool cacheable, Body body = nullptr,
                std::vector<std::string> requiredKeys = {});
  bool isCacheable() const override { return cacheable_; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
  int calls() const { return calls_.load(); }

 private:
  const bool cacheable_;
  const Body body_;
  std::atomic<int> calls_{0};
};

// A tag that records each firing with its parameters.
class CountingTag : public MOXTrackingTag {
 public:
  using OnFire = std::function<void(const MOXParameterMap&)>;
  explicit CountingTag(std::string functionId, OnFire onFire = nullptr);
  int fired() const { return fired_.load(); }
  // The "name" parameter's text of each firing, in order.
  std::vector<std::string> names() const;

 protected:
  void evaluateTrackingTag(const MOXParameterMap& parameters) override;

 private:
  const OnFire onFire_;
  std::atomic<int> fired_{0};
  mutable std::mutex mu_;
  std::vector<std::string> names_;
};

// Builds a serving resource table by table; every add answers the new entry's index.
class ServingResourceBuilder {
 public:
  int addValue(const MOXPValue& value);
  int addString(const std::string& text);
  int addInteger(std::int64_t value);
  int addFunctionId(const std::string& id);
  int addList(const std::vector<int>& items, bool containsReferences = false);
  int addMap(const std::vector<int>& keys, const std::vector<int>& values,
             bool containsReferences = false);
  int addTemplate(const std::vector<int>& tokens, bool containsReferences = false);
  int addMacroReference(int nameIndex);
  int addKey(const std::string& key);  // the same key text answers the same index
  int addProperty(const std::string& key, int valueIndex);
  // A call whose properties are (key, value index) pairs.
  MOXPFunctionCall call(const std::vector<std::pair<std::string, int>>& properties);
  int addMacro(const std::vector<std::pair<std::string, int>>& properties);
  int addTag(const std::vector<std::pair<std::string, int>>& properties);
  int addPredicate(const std::vector<std::pair<std::string, int>>& properties);
  MOXPRule* addRule();

  MOXPResource& resource() { return resource_; }
  std::string bytes() const;

 private:
  MOXPResource resource_;
};

}  // namespace loomset::testing
