// Costs of the rule runtime: cached and data-layer lookups, one event over a mid-sized
// container, and expanding a serving resource from bytes.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "loomset/MOXLog.h"
#include "loomset/MOXResourceUtil.h"
#include "loomset/MOXRuntime.h"
#include "loomset/MOXTrackingTag.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"

namespace loomset {
namespace {

ValuePtr str(const std::string& text) {
  return MOXTypes::objectToValue(String::create(text));
}
ValuePtr i64(std::int64_t v) {
  return MOXTypes::objectToValue(Number::int64(v));
}
ValuePtr fn(const std::string& id) {
  return MOXTypes::functionIdToValue(id);
}
ValuePtr refTo(const std::string& name) {
  auto v = std::make_shared<MOXPValue>();
  v->set_type(MOXPValue::MacroReference);
  v->set_macro_reference(name);
  v->set_contains_references(true);
  return v;
}

MOXExpandedFunctionCallPtr call(
    std::initializer_list<std::pair<std::string, ValuePtr>> properties) {
  MOXExpandedFunctionCallBuilder builder;
  for (const auto& [key, value] : properties) builder.addPropertyWithValue(value, key);
  return builder.build();
}

class CountingTag : public MOXTrackingTag {
 public:
  CountingTag() : MOXTrackingTag("count", {}) {}
  std::atomic<int> fired{0};

 protected:
  void evaluateTrackingTag(const MOXParameterMap&) override { ++fired; }
};

void quietLogs() {
  static bool once = [] {
    MOXLog::logger()->setLogLevel(kMOXLogLevelNone);
    return true;
  }();
  (void)once;
}

void BM_StaticMacroLookupFromCache(benchmark::State& state) {
  quietLogs();
  MOXExpandedResourceBuilder b;
  b.addMacro(
      call({{"instance_name", str("greeting")}, {"function", fn("_c")}, {"value", str("hello")}}));
  auto runtime =
      MOXRuntime::runtimeWithResource(b.build(), MOXDataLayer::create(), nullptr, nullptr);
  const std::string name = "greeting";
  runtime->evaluateMacroReference(name);  // fills the cache
  for (auto _ : state) benchmark::DoNotOptimize(runtime->evaluateMacroReference(name));
}
BENCHMARK(BM_StaticMacroLookupFromCache);

void BM_DataLayerMacroLookup(benchmark::State& state) {
  quietLogs();
  auto dataLayer = MOXDataLayer::create();
  dataLayer->push(
      obj::dict({{"user", obj::dict({{"profile", obj::dict({{"level", obj::str("gold")}})}})}}));
  MOXExpandedResourceBuilder b;
  b.addMacro(call({{"instance_name", str("level")},
                   {"function", fn("_v")},
                   {"name", str("user.profile.level")}}));
  auto runtime = MOXRuntime::runtimeWithResource(b.build(), dataLayer, nullptr, nullptr);
  const std::string name = "level";
  for (auto _ : state) benchmark::DoNotOptimize(runtime->evaluateMacroReference(name));
}
BENCHMARK(BM_DataLayerMacroLookup);

// 200 rules of two predicates each over data-layer macros and constants, 100 tags; the first
// predicate passes for half of the rules, and five rules pass both.
void BM_EvaluateTags200Rules(benchmark::State& state) {
  quietLogs();
  auto dataLayer = MOXDataLayer::create();
  auto facts = Dictionary::create();
  for (int k = 0; k < 10; ++k)
    facts->setObject(obj::str(k < 5 ? "v" : "w"), "k" + std::to_string(k));
  facts->setObject(obj::str("s0"), "stage");
  dataLayer->push(facts);

  MOXExpandedResourceBuilder b;
  for (int k = 0; k < 10; ++k) {
    b.addMacro(call({{"instance_name", str("dl" + std::to_string(k))},
                     {"function", fn("_v")},
                     {"name", str("k" + std::to_string(k))}}));
  }
  b.addMacro(
      call({{"instance_name", str("stage")}, {"function", fn("_v")}, {"name", str("stage")}}));
  std::vector<MOXExpandedFunctionCallPtr> tags;
  for (int t = 0; t < 100; ++t) tags.push_back(call({{"function", fn("count")}, {"id", i64(t)}}));
  for (int i = 0; i < 200; ++i) {
    b.addRule(MOXExpandedRule::builder()
                  .addPositivePredicate(call({{"function", fn("_eq")},
                                              {"arg0", refTo("dl" + std::to_string(i % 10))},
                                              {"arg1", str("v")}}))
                  .addPositivePredicate(call({{"function", fn("_eq")},
                                              {"arg0", refTo("stage")},
                                              {"arg1", str("s" + std::to_string(i / 10))}}))
                  .addAddTag(tags[static_cast<std::size_t>(i % 100)])
                  .build());
  }
  auto runtime = MOXRuntime::runtimeWithResource(b.build(), dataLayer, nullptr, nullptr);
  auto counter = std::make_shared<CountingTag>();
  runtime->addTrackingTag(counter);
  for (auto _ : state) runtime->evaluateTags("event");
  if (counter->fired.load() != 5 * static_cast<int>(state.iterations())) {
    state.SkipWithError("unexpected number of firings");
  }
}
BENCHMARK(BM_EvaluateTags200Rules);

// A serving resource of 2,000 values, 500 macros and 200 rules.
std::string servingResourceBytes() {
  MOXPResource r;
  auto addValue = [&r](const ValuePtr& v) {
    *r.add_value() = *v;
    return r.value_size() - 1;
  };
  auto addKey = [&r](const std::string& key) {
    for (int i = 0; i < r.key_size(); ++i) {
      if (r.key(i) == key) return i;
    }
    r.add_key(key);
    return r.key_size() - 1;
  };
  auto addCall = [&](google::protobuf::RepeatedPtrField<MOXPFunctionCall>* into,
                     std::vector<std::pair<std::string, int>> props) {
    MOXPFunctionCall* c = into->Add();
    c->set_function(0);
    for (const auto& [key, value] : props) {
      MOXPProperty* p = r.add_property();
      p->set_key(addKey(key));
      p->set_value(value);
      c->add_property(r.property_size() - 1);
    }
    return into->size() - 1;
  };
  const int constant = addValue(fn("_c"));
  const int dataLayerFn = addValue(fn("_v"));
  const int equals = addValue(fn("_eq"));
  const int tagFn = addValue(fn("count"));
  std::vector<int> names, constants;
  for (int m = 0; m < 500; ++m) names.push_back(addValue(str("macro" + std::to_string(m))));
  for (int m = 0; m < 500; ++m)
    constants.push_back(addValue(m % 2 ? str("text" + std::to_string(m)) : i64(m)));
  std::vector<int> composites;
  while (r.value_size() < 2000 - 200) {
    const int n = r.value_size();
    MOXPValue list;
    list.set_type(MOXPValue::List);
    auto* serving = list.MutableExtension(MOXPServingValue::ext);
    for (int j = 0; j < 4; ++j)
      serving->add_list_item(constants[static_cast<std::size_t>((n * 7 + j) % 500)]);
    composites.push_back(addValue(std::make_shared<MOXPValue>(list)));
  }
  std::vector<int> refs;
  while (r.value_size() < 2000) {
    MOXPValue reference;
    reference.set_type(MOXPValue::MacroReference);
    reference.set_contains_references(true);
    reference.MutableExtension(MOXPServingValue::ext)
        ->set_macro_name_reference(names[static_cast<std::size_t>(refs.size() % 500)]);
    refs.push_back(addValue(std::make_shared<MOXPValue>(reference)));
  }
  for (int m = 0; m < 500; ++m) {
    const int value = m % 3 == 0 ? composites[static_cast<std::size_t>(m) % composites.size()]
                                 : constants[static_cast<std::size_t>(m)];
    if (m % 10 == 0) {
      addCall(r.mutable_macro(), {{"instance_name", names[static_cast<std::size_t>(m)]},
                                  {"function", dataLayerFn},
                                  {"name", names[static_cast<std::size_t>(m)]}});
    } else {
      addCall(r.mutable_macro(), {{"instance_name", names[static_cast<std::size_t>(m)]},
                                  {"function", constant},
                                  {"value", value}});
    }
  }
  for (int t = 0; t < 100; ++t)
    addCall(r.mutable_tag(), {{"function", tagFn}, {"id", constants[static_cast<std::size_t>(t)]}});
  for (int p = 0; p < 400; ++p) {
    addCall(r.mutable_predicate(), {{"function", equals},
                                    {"arg0", refs[static_cast<std::size_t>(p % 200)]},
                                    {"arg1", constants[static_cast<std::size_t>(p % 500)]}});
  }
  for (int i = 0; i < 200; ++i) {
    MOXPRule* rule = r.add_rule();
    rule->add_positive_predicate(2 * i);
    rule->add_negative_predicate(2 * i + 1);
    rule->add_add_tag(i % 100);
    if (i % 4 == 0) rule->add_add_macro(i);
  }
  r.set_version("7");
  return r.SerializeAsString();
}

void BM_ExpandServingResourceFromBytes(benchmark::State& state) {
  quietLogs();
  const std::string bytes = servingResourceBytes();
  for (auto _ : state) benchmark::DoNotOptimize(MOXResourceUtil::expandResourceFromBytes(bytes));
  state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_ExpandServingResourceFromBytes)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace loomset
