#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "loomset/Exceptions.h"
#include "loomset/MOXResourceUtil.h"
#include "loomset/MOXRuntime.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "runtime/MOXRuntimeInternals.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using namespace testing;

class RecordingListener : public MOXDataLayerListener {
 public:
  void changed(const std::shared_ptr<Dictionary>& update) override {
    std::lock_guard<std::mutex> lock(mu);
    updates.push_back(MOXTypes::objectToString(update)->text());
  }
  std::vector<std::string> all() {
    std::lock_guard<std::mutex> lock(mu);
    return updates;
  }
  std::mutex mu;
  std::vector<std::string> updates;
};

class RuntimeTest : public ::testing::Test {
 protected:
  std::shared_ptr<MOXRuntime> make(const MOXExpandedResourcePtr& resource) {
    runtime = MOXRuntime::runtimeWithResource(resource, dataLayer, nullptr, nullptr);
    tag = std::make_shared<CountingTag>("count_tag");
    runtime->addTrackingTag(tag);
    return runtime;
  }
  // A tag call of the counting tag; "name" tells firings apart.
  static MOXExpandedFunctionCallPtr tagCall(const std::string& name) {
    return makeCall({{"function", fnValue("count_tag")}, {"name", strValue(name)}});
  }
  static MOXExpandedFunctionCallPtr truePredicate() {
    return predicateCall("_eq", strValue("x"), strValue("x"));
  }
  static MOXExpandedFunctionCallPtr falsePredicate() {
    return predicateCall("_eq", strValue("x"), strValue("y"));
  }
  std::string text(const std::string& macro) {
    return MOXTypes::valueToString(runtime->evaluateMacroReference(macro).value())->text();
  }

  std::shared_ptr<MOXDataLayer> dataLayer = MOXDataLayer::create();
  std::shared_ptr<MOXRuntime> runtime;
  std::shared_ptr<CountingTag> tag;
};

TEST_F(RuntimeTest, TagsFireWhenAddedByAPassingRuleAndNotRemovedByAny) {
  auto t = tagCall("t"), u = tagCall("u"), never = tagCall("never");
  auto r = tagCall("r");
  MOXExpandedResourceBuilder b;
  // Adds t twice and u; r is added here but removed by a rule that passes too.
  b.addRule(MOXExpandedRule::builder().addAddTag(t).addAddTag(t).addAddTag(u).addAddTag(r).build());
  b.addRule(
      MOXExpandedRule::builder().addPositivePredicate(truePredicate()).addRemoveTag(r).build());
  // A failing rule's removal does not count.
  b.addRule(
      MOXExpandedRule::builder().addPositivePredicate(falsePredicate()).addRemoveTag(u).build());
  b.addRule(
      MOXExpandedRule::builder().addPositivePredicate(falsePredicate()).addAddTag(never).build());
  make(b.build());

  runtime->evaluateTags("e1");
  auto names = tag->names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"t", "u"}));
  runtime->evaluateTags("e2");  // a rule without predicates fires on every event
  EXPECT_EQ(tag->fired(), 4);
}

TEST_F(RuntimeTest, NegativePredicatesShortCircuitTheRule) {
  auto counter = std::make_shared<CountingMacro>("counting_predicate", false,
                                                 [](const auto&) { return boolValue(true); });
  auto counted = makeCall({{"function", fnValue("counting_predicate")}});
  MOXExpandedResourceBuilder b;
  b.addRule(MOXExpandedRule::builder()
                .addNegativePredicate(truePredicate())
                .addPositivePredicate(counted)
                .addAddTag(tagCall("blocked"))
                .build());
  b.addRule(MOXExpandedRule::builder()
                .addPositivePredicate(falsePredicate())
                .addPositivePredicate(counted)
                .addAddTag(tagCall("blocked"))
                .build());
  b.addRule(MOXExpandedRule::builder()
                .addNegativePredicate(falsePredicate())
                .addPositivePredicate(counted)
                .addAddTag(tagCall("passes"))
                .build());
  make(b.build());
  runtime->addPredicate(counter);
  runtime->evaluateTags("e");
  EXPECT_EQ(tag->names(), std::vector<std::string>{"passes"});
  EXPECT_EQ(counter->calls(), 1);  // only the third rule reached its positive predicate
}

TEST_F(RuntimeTest, MacroSelectionUsesRulesThenTheLastEligibleDefault) {
  auto first = constantMacro("m", strValue("first"));
  auto second = constantMacro("m", strValue("second"));
  auto flagged = makeCall({{"instance_name", strValue("m")},
                           {"function", fnValue("_c")},
                           {"value", strValue("flagged")},
                           {"not_default_macro", boolValue(true)}});
  auto onlyFlagged = makeCall({{"instance_name", strValue("f")},
                               {"function", fnValue("_c")},
                               {"value", strValue("x")},
                               {"not_default_macro", strValue("true")}});
  auto selected = constantMacro("s", strValue("selected"));
  auto fallback = constantMacro("s", strValue("fallback"));
  auto removed = constantMacro("s", strValue("removed"));
  auto dynamic = constantMacro("d", strValue("by-rule"));
  dataLayer->push(obj::dict({{"mode", obj::str("on")}}));

  MOXExpandedResourceBuilder b;
  for (auto& call : {first, second, flagged, onlyFlagged, fallback}) b.addMacro(call);
  b.addRule(MOXExpandedRule::builder().addAddMacro(selected).addAddMacro(removed).build());
  b.addRule(MOXExpandedRule::builder().addRemoveMacro(removed).build());
  b.addRule(MOXExpandedRule::builder()
                .addPositivePredicate(predicateCall("_eq", refValue("mode"), strValue("on")))
                .addAddMacro(dynamic)
                .build());
  b.addMacro(dataLayerMacro("mode", "mode"));
  make(b.build());

  ScopedRecordingLogger log;
  EXPECT_EQ(text("m"), "second");
  EXPECT_EQ(text("s"), "selected");
  EXPECT_EQ(text("d"), "by-rule");
  dataLayer->push(obj::dict({{"mode", obj::str("off")}}));
  // "d" has no default, and its rule no longer passes; it was not cached since the rule read the
  // data layer.
  const MOXPValueAndStatic missing = runtime->evaluateMacroReference("d");
  EXPECT_EQ(missing.value(), MOXTypes::defaultValue());
  // A name whose every call is flagged has no default either.
  EXPECT_EQ(runtime->evaluateMacroReference("f").value(), MOXTypes::defaultValue());
  EXPECT_EQ(runtime->evaluateMacroReference("unknown").value(), MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Invalid macro: unknown"));
  EXPECT_FALSE(log->contains("Multiple macros active"));

  auto other = constantMacro("s", strValue("other"));
  MOXExpandedResourceBuilder twice;
  twice.addRule(MOXExpandedRule::builder().addAddMacro(selected).addAddMacro(other).build());
  make(twice.build());
  const std::string chosen = text("s");
  EXPECT_TRUE(chosen == "selected" || chosen == "other");
  EXPECT_TRUE(log->contains("Multiple macros active for macroName s"));
}

TEST_F(RuntimeTest, CyclesFailTheClosingReferenceWhileDiamondsEvaluate) {
  MOXExpandedResourceBuilder b;
  b.addMacro(constantMacro("a", listValue({refValue("b")})));
  b.addMacro(constantMacro("b", listValue({refValue("a")})));
  b.addMacro(constantMacro("top", listValue({refValue("left"), refValue("right")})));
  b.addMacro(constantMacro("left", refValue("shared")));
  b.addMacro(constantMacro("right", refValue("shared")));
  b.addMacro(constantMacro("shared", strValue("s")));
  b.addMacro(constantMacro("self", refValue("self")));
  make(b.build());

  ScopedRecordingLogger log;
  const MOXPValueAndStatic a = runtime->evaluateMacroReference("a");
  EXPECT_EQ(a.value(), MOXTypes::defaultValue());
  EXPECT_EQ(log->count("Macro cycle detected.  Current macro reference: b.  Previous macro "
                       "reference: {(b, a)}."),
            1);
  EXPECT_EQ(text("top"), "[s, s]");
  EXPECT_EQ(runtime->evaluateMacroReference("self").value(), MOXTypes::defaultValue());
  EXPECT_EQ(log->count("Macro cycle detected"), 2);
}

TEST_F(RuntimeTest, StaticResultsAreCachedAndDynamicOnesReEvaluated) {
  auto cacheable = std::make_shared<CountingMacro>("pure", true);
  auto volatileImpl = std::make_shared<CountingMacro>("impure", false);
  auto call = [](const std::string& name, const std::string& fn, ValuePtr value) {
    return makeCall(
        {{"instance_name", strValue(name)}, {"function", fnValue(fn)}, {"value", value}});
  };
  MOXExpandedResourceBuilder b;
  b.addMacro(call("pure", "pure", strValue("p")));
  b.addMacro(call("impure", "impure", strValue("i")));
  // Constant via a reference: the reference is folded into the call after the first lookup.
  b.addMacro(call("viaRef", "pure", refValue("constant")));
  b.addMacro(constantMacro("constant", strValue("c")));
  // Depends on the data layer, so neither it nor anything built on it is cached.
  b.addMacro(dataLayerMacro("user", "user.name"));
  b.addMacro(call("onUser", "pure", refValue("user")));
  make(b.build());
  runtime->addMacro(cacheable);
  runtime->addMacro(volatileImpl);

  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(text("pure"), "p");
    EXPECT_EQ(text("impure"), "i");
  }
  EXPECT_EQ(cacheable->calls(), 1);
  EXPECT_EQ(volatileImpl->calls(), 3);
  EXPECT_TRUE(runtime->evaluateMacroReference("pure").isStatic());
  EXPECT_FALSE(runtime->evaluateMacroReference("impure").isStatic());

  EXPECT_EQ(text("viaRef"), "c");
  EXPECT_EQ(text("viaRef"), "c");
  EXPECT_EQ(cacheable->calls(), 2);
  // The reference is folded in the runtime's own view of the call; the call is not changed.
  const auto& viaRefCall = (*runtime->resource()->macrosByName("viaRef"))[0];
  EXPECT_EQ(MOXRuntimeInternals::parameterForKey(*runtime, *viaRefCall, "value")->type(),
            MOXPValue::String);
  EXPECT_EQ(viaRefCall->propertyForKey("value")->type(), MOXPValue::MacroReference);

  dataLayer->push(obj::dict({{"user", obj::dict({{"name", obj::str("ann")}})}}));
  EXPECT_EQ(text("onUser"), "ann");
  dataLayer->push(obj::dict({{"user", obj::dict({{"name", obj::str("bob")}})}}));
  EXPECT_EQ(text("onUser"), "bob");
  EXPECT_EQ(cacheable->calls(), 4);
  EXPECT_FALSE(runtime->evaluateMacroReference("user").isStatic());
  const auto& onUserCall = (*runtime->resource()->macrosByName("onUser"))[0];
  EXPECT_EQ(MOXRuntimeInternals::parameterForKey(*runtime, *onUserCall, "value")->type(),
            MOXPValue::MacroReference);
}

TEST_F(RuntimeTest, RuntimesSharingAResourceEachUseTheirOwnImplementations) {
  // Both runtimes evaluate the very same call objects; each must reach its own implementation
  // even after the other has executed the call, also when a runtime dies and another is created.
  MOXExpandedResourceBuilder b;
  b.addMacro(makeCall({{"instance_name", strValue("m")},
                       {"function", fnValue("answer")},
                       {"value", strValue("v")}}));
  auto resource = b.build();
  auto answering = [](const std::string& text) {
    return std::make_shared<CountingMacro>(
        "answer", false, [text](const MOXParameterMap&) { return strValue(text); });
  };
  auto first = MOXRuntime::runtimeWithResource(resource, dataLayer, nullptr, nullptr);
  auto second = MOXRuntime::runtimeWithResource(resource, dataLayer, nullptr, nullptr);
  first->addMacro(answering("one"));
  second->addMacro(answering("two"));
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(MOXTypes::valueToString(first->evaluateMacroReference("m").value())->text(), "one");
    EXPECT_EQ(MOXTypes::valueToString(second->evaluateMacroReference("m").value())->text(), "two");
  }
  first.reset();
  auto third = MOXRuntime::runtimeWithResource(resource, dataLayer, nullptr, nullptr);
  third->addMacro(answering("three"));
  EXPECT_EQ(MOXTypes::valueToString(third->evaluateMacroReference("m").value())->text(), "three");

  // A tag call that lacked a required key runs once the runtime's view of it gains the key.
  struct NeedsName : MOXTrackingTag {
    NeedsName() : MOXTrackingTag("needs", {"name"}) {}
    void evaluateTrackingTag(const MOXParameterMap&) override { ++runs; }
    std::atomic<int> runs{0};
  };
  testing::ScopedRecordingLogger log;
  auto needsName = std::make_shared<NeedsName>();
  auto call = makeCall({{"function", fnValue("needs")}});
  MOXExpandedResourceBuilder b2;
  b2.addRule(MOXExpandedRule::builder().addAddTag(call).build());
  make(b2.build());
  runtime->addTrackingTag(needsName);
  runtime->evaluateTags("e");
  EXPECT_EQ(needsName->runs.load(), 0);
  EXPECT_TRUE(log->contains("Incorrect keys for function needs required {(name)}"));
  MOXRuntimeInternals::updateCacheablePropertyWithValue(*runtime, *call, strValue("k"), "name");
  runtime->evaluateTags("e");
  EXPECT_EQ(needsName->runs.load(), 1);
}

TEST_F(RuntimeTest, PushAfterEvaluateRepeatsOnCachedLookups) {
  auto listener = std::make_shared<RecordingListener>();
  dataLayer->registerListener(listener);
  MOXExpandedResourceBuilder b;
  b.addMacro(constantMacro("m", strValue("v"), mapValue({{strValue("seen"), refValue("source")}})));
  b.addMacro(constantMacro("source", intValue(1)));
  b.addMacro(constantMacro("mixed", strValue("v"),
                           listValue({mapValue({{strValue("k"), strValue("w")}}), strValue("x")})));
  b.addMacro(constantMacro("scalar", strValue("v"), strValue("ignored")));
  make(b.build());

  ScopedRecordingLogger log;
  EXPECT_EQ(text("m"), "v");
  EXPECT_EQ(text("m"), "v");
  EXPECT_EQ(listener->all(), (std::vector<std::string>{"{seen=1}", "{seen=1}"}));
  EXPECT_EQ(MOXRuntimeInternals::macroEvaluationCacheCount(*runtime), 2u);  // "m" and "source"

  EXPECT_EQ(text("mixed"), "v");
  EXPECT_EQ(listener->all().back(), "{k=w}");
  EXPECT_EQ(log->count("pushAfterEvaluate: value not a Map or List"), 1);
  EXPECT_EQ(text("scalar"), "v");
  EXPECT_EQ(listener->all().size(), 3u);
}

TEST_F(RuntimeTest, ValuesEvaluateWithEscapingsTemplatesAndMaps) {
  constexpr int kEscapeUri = 12, kEscapeHtml = 1;
  MOXExpandedResourceBuilder b;
  b.addMacro(constantMacro("raw", strValue("a b&c")));
  b.addMacro(constantMacro("escaped", refValue("raw", {kEscapeUri})));
  b.addMacro(constantMacro("html", refValue("raw", {kEscapeHtml})));
  b.addMacro(constantMacro("tmpl", templateValue({strValue("x="), refValue("raw", {kEscapeUri})})));
  b.addMacro(constantMacro("map", mapValue({{refValue("raw"), listValue({refValue("n")})}})));
  b.addMacro(constantMacro("n", intValue(5)));
  b.addMacro(constantMacro("broken", listValue({strValue("ok"), refValue("missing")})));
  make(b.build());

  ScopedRecordingLogger log;
  EXPECT_EQ(text("escaped"), "a%20b%26c");
  EXPECT_EQ(text("html"), "a b&c");
  EXPECT_TRUE(log->contains("Unsupported Value Escaping: 1"));
  EXPECT_EQ(text("tmpl"), "x=a%20b%26c");
  EXPECT_EQ(text("map"), "{a b&c=[5]}");
  // An evaluated container is not static, but is still built from static parts.
  EXPECT_FALSE(runtime->evaluateMacroReference("map").isStatic());
  // One failing item fails the whole value.
  EXPECT_EQ(runtime->evaluateMacroReference("broken").value(), MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Invalid macro: missing"));
}

TEST_F(RuntimeTest, BrokenCallsFailWithTheirMessages) {
  MOXExpandedResourceBuilder b;
  b.addMacro(makeCall({{"instance_name", strValue("nofn")}, {"value", strValue("v")}}));
  b.addMacro(makeCall({{"instance_name", strValue("unknown")}, {"function", fnValue("_zz")}}));
  b.addMacro(makeCall({{"instance_name", strValue("nokeys")}, {"function", fnValue("_c")}}));
  b.addMacro(constantMacro("uneven", [] {
    auto v = std::make_shared<MOXPValue>(*mapValue({{strValue("k"), refValue("nokeys")}}));
    v->add_map_key()->CopyFrom(*strValue("extra"));
    return ValuePtr(v);
  }()));
  b.addRule(MOXExpandedRule::builder()
                .addAddTag(makeCall({{"function", fnValue("_nope")}}))
                .addAddTag(tagCall("fine"))
                .build());
  make(b.build());

  ScopedRecordingLogger log;
  for (const char* name : {"nofn", "unknown", "nokeys", "uneven"}) {
    EXPECT_EQ(runtime->evaluateMacroReference(name).value(), MOXTypes::defaultValue()) << name;
  }
  EXPECT_TRUE(log->contains("No function id in properties"));
  EXPECT_TRUE(log->contains("_zz has no backing implementation."));
  EXPECT_TRUE(
      log->contains("Incorrect keys for function _c required {(value)} had "
                    "{(instance_name, function)}"));
  EXPECT_TRUE(log->contains("Invalid serving value"));
  runtime->evaluateTags("e");
  EXPECT_TRUE(log->contains("_nope has no backing implementation."));
  EXPECT_EQ(tag->names(), std::vector<std::string>{"fine"});
}

TEST_F(RuntimeTest, EventNameIsVisibleOnlyDuringTheEvaluationEvenWhenATagThrows) {
  auto seen = std::make_shared<std::vector<std::string>>();
  auto recorder = std::make_shared<CountingTag>(
      "recorder", [this, seen](const auto&) { seen->push_back(text("event")); });
  auto thrower = std::make_shared<CountingTag>(
      "thrower", [](const auto&) { throw std::runtime_error("handler failed"); });
  MOXExpandedResourceBuilder b;
  b.addMacro(makeCall({{"instance_name", strValue("event")}, {"function", fnValue("_e")}}));
  b.addRule(MOXExpandedRule::builder()
                .addAddTag(makeCall({{"function", fnValue("recorder")}}))
                .addAddTag(makeCall({{"function", fnValue("thrower")}}))
                .build());
  make(b.build());
  runtime->addTrackingTag(recorder);
  runtime->addTrackingTag(thrower);

  EXPECT_FALSE(runtime->currentEventName().has_value());
  EXPECT_THROW(runtime->evaluateTags("purchase"), std::runtime_error);
  EXPECT_EQ(*seen, std::vector<std::string>{"purchase"});
  EXPECT_FALSE(runtime->currentEventName().has_value());
  EXPECT_EQ(runtime->evaluateMacroReference("event").value(), MOXTypes::defaultValue());
}

TEST_F(RuntimeTest, NestedEvaluationKeepsTheOuterEventName) {
  auto seen = std::make_shared<std::vector<std::string>>();
  MOXExpandedResourceBuilder b;
  b.addMacro(makeCall({{"instance_name", strValue("event")}, {"function", fnValue("_e")}}));
  // A failed macro stays failed through an escaping, so the tag using it does not run.
  b.addMacro(constantMacro("escapedMissing", refValue("missing", {12})));
  b.addRule(MOXExpandedRule::builder()
                .addPositivePredicate(predicateCall("_eq", refValue("event"), strValue("outer")))
                .addAddTag(makeCall({{"function", fnValue("nester")}}))
                .addAddTag(makeCall({{"function", fnValue("recorder")}}))
                .addAddTag(tagCall("never"))
                .build());
  b.addRule(MOXExpandedRule::builder()
                .addAddTag(makeCall(
                    {{"function", fnValue("count_tag")}, {"name", refValue("escapedMissing")}}))
                .build());
  make(b.build());
  runtime->addTrackingTag(std::make_shared<CountingTag>(
      "nester", [this](const auto&) { runtime->evaluateTags("inner"); }));
  runtime->addTrackingTag(std::make_shared<CountingTag>(
      "recorder", [this, seen](const auto&) { seen->push_back(text("event")); }));

  ScopedRecordingLogger log;
  runtime->evaluateTags("outer");
  EXPECT_EQ(*seen, std::vector<std::string>{"outer"});
  EXPECT_FALSE(runtime->currentEventName().has_value());
  // "never" fired once for "outer"; the escaped failure stopped the other tag both times.
  EXPECT_EQ(tag->names(), std::vector<std::string>{"never"});
  EXPECT_EQ(log->count("Invalid macro: missing"), 1);  // cached as failed after the first pass
}

TEST_F(RuntimeTest, OnlyExperimentSupplementalsAreHandedOn) {
  make(MOXExpandedResource::builder().build());
  MOXPSupplemental experiment, other;
  experiment.set_name("qzExperiment:1");
  other.set_name("settings");
  ScopedRecordingLogger log;
  runtime->setSupplementals(std::vector<MOXPSupplemental>{other, experiment});
  EXPECT_EQ(log->count("supplemental missing experimentSupplemental"), 1);
}

TEST_F(RuntimeTest, RegistrationRejectsMissingAndDuplicateIds) {
  make(MOXExpandedResource::builder().build());
  try {
    runtime->addMacro(std::make_shared<CountingMacro>("_c", true));
    ADD_FAILURE() << "duplicate accepted";
  } catch (const IllegalArgumentException& e) {
    EXPECT_EQ(e.reason(), "Duplicate function type name: _c");
  }
  try {
    runtime->addPredicate(std::make_shared<CountingMacro>("", true));
    ADD_FAILURE() << "empty id accepted";
  } catch (const IllegalArgumentException& e) {
    EXPECT_EQ(e.reason(), "instanceFunctionId should be set");
  }
  ScopedRecordingLogger log;
  EXPECT_EQ(MOXRuntime::runtimeWithResource(nullptr, dataLayer, nullptr, nullptr), nullptr);
  EXPECT_TRUE(log->contains("resource cannot be nil"));
}

TEST_F(RuntimeTest, DeepReferenceChainsFailWithoutCrashingOrPoisoningTheCache) {
  MOXExpandedResourceBuilder b;
  const int chain = static_cast<int>(MOXRuntime::kMaxEvaluationDepth) + 50;
  for (int i = 0; i < chain; ++i) {
    b.addMacro(constantMacro("m" + std::to_string(i), refValue("m" + std::to_string(i + 1))));
  }
  b.addMacro(constantMacro("m" + std::to_string(chain), strValue("end")));
  make(b.build());
  ScopedRecordingLogger log;
  EXPECT_EQ(runtime->evaluateMacroReference("m0").value(), MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Evaluation nested too deeply"));
  // Nearer the end the chain fits, although the deep lookup above passed through these names.
  EXPECT_EQ(text("m100"), "end");
}

TEST_F(RuntimeTest, ServingBytesDriveLookupsAndTags) {
  ServingResourceBuilder s;
  const int constant = s.addFunctionId("_c");
  const int equals = s.addFunctionId("_eq");
  const int dataLayerFn = s.addFunctionId("_v");
  const int countTag = s.addFunctionId("count_tag");
  const int pageName = s.addString("page");
  const int pageKey = s.addString("page");
  const int pageRef = s.addMacroReference(pageName);
  const int home = s.addString("home");
  const int greetingName = s.addString("greeting");
  const int hello = s.addString("hello");
  s.addMacro({{"instance_name", pageName}, {"function", dataLayerFn}, {"name", pageKey}});
  s.addMacro({{"instance_name", greetingName}, {"function", constant}, {"value", hello}});
  const int predicate = s.addPredicate({{"function", equals}, {"arg0", pageRef}, {"arg1", home}});
  const int tagName = s.addString("home-tag");
  const int tagIndex = s.addTag({{"function", countTag}, {"name", tagName}});
  MOXPRule* rule = s.addRule();
  rule->add_positive_predicate(predicate);
  rule->add_add_tag(tagIndex);

  make(MOXResourceUtil::expandResourceFromBytes(s.bytes()));
  EXPECT_EQ(text("greeting"), "hello");
  runtime->evaluateTags("view");
  EXPECT_EQ(tag->fired(), 0);
  dataLayer->push(obj::dict({{"page", obj::str("home")}}));
  runtime->evaluateTags("view");
  EXPECT_EQ(tag->names(), std::vector<std::string>{"home-tag"});
}

TEST_F(RuntimeTest, LookupsRunWhileAnotherThreadEvaluatesTags) {
  MOXExpandedResourceBuilder b;
  b.addMacro(dataLayerMacro("level", "level"));
  b.addMacro(constantMacro("const", listValue({strValue("a"), refValue("inner")})));
  b.addMacro(constantMacro("inner", strValue("b")));
  b.addMacro(makeCall({{"instance_name", strValue("event")}, {"function", fnValue("_e")}}));
  for (int i = 0; i < 10; ++i) {
    b.addRule(MOXExpandedRule::builder()
                  .addPositivePredicate(predicateCall("_gt", refValue("level"), intValue(i)))
                  .addPositivePredicate(predicateCall("_sw", refValue("const"), strValue("[a")))
                  .addAddTag(tagCall("t" + std::to_string(i)))
                  .build());
  }
  make(b.build());
  dataLayer->push(obj::dict({{"level", obj::i64(5)}}));

  std::atomic<bool> stop{false};
  std::thread evaluator([&] {
    for (int i = 0; i < 200; ++i) runtime->evaluateTags("e" + std::to_string(i));
    stop = true;
  });
  int lookups = 0;
  while (!stop || lookups == 0) {
    ASSERT_EQ(text("const"), "[a, b]");
    ASSERT_EQ(text("level"), "5");
    ++lookups;
  }
  evaluator.join();
  EXPECT_EQ(tag->fired(), 200 * 5);
}

}  // namespace
}  // namespace loomset
