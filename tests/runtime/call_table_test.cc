#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "loomset/MOXRuntime.h"
#include "loomset/MOXTypes.h"
#include "runtime/MOXCallTable.h"
#include "runtime/MOXRuntimeInternals.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using namespace testing;
using Role = MOXCallTable::Role;

std::string text(MOXRuntime& runtime, const std::string& macro) {
  return MOXTypes::valueToString(runtime.evaluateMacroReference(macro).value())->text();
}

// A cacheable macro that answers a fixed text, so that what a runtime folds depends on which
// implementation it registered.
std::shared_ptr<CountingMacro> answering(const std::string& id, const std::string& answer) {
  return std::make_shared<CountingMacro>(
      id, true, [answer](const MOXParameterMap&) { return strValue(answer); });
}

TEST(CallTable, FoldsStayInTheRuntimeThatMadeThem) {
  // "viaRef" passes the static answer of "inner" on; each runtime answers "inner" its own way.
  MOXExpandedResourceBuilder b;
  auto viaRef = makeCall({{"instance_name", strValue("viaRef")},
                          {"function", fnValue("echo")},
                          {"value", refValue("inner")}});
  b.addMacro(viaRef);
  b.addMacro(makeCall({{"instance_name", strValue("inner")}, {"function", fnValue("answer")}}));
  const auto resource = b.build();
  auto dataLayer = MOXDataLayer::create();
  auto first = MOXRuntime::runtimeWithResource(resource, dataLayer, nullptr, nullptr);
  auto second = MOXRuntime::runtimeWithResource(resource, dataLayer, nullptr, nullptr);
  auto firstEcho = std::make_shared<CountingMacro>("echo", false);
  first->addMacro(firstEcho);
  first->addMacro(answering("answer", "one"));
  second->addMacro(std::make_shared<CountingMacro>("echo", false));
  second->addMacro(answering("answer", "two"));

  EXPECT_EQ(text(*first, "viaRef"), "one");
  EXPECT_EQ(text(*first, "viaRef"), "one");  // from the folded parameter
  EXPECT_EQ(firstEcho->calls(), 2);
  EXPECT_EQ(MOXRuntimeInternals::parameterForKey(*first, *viaRef, "value")->string(), "one");
  // The other runtime neither sees the fold nor is misled by it.
  EXPECT_EQ(MOXRuntimeInternals::parameterForKey(*second, *viaRef, "value")->type(),
            MOXPValue::MacroReference);
  EXPECT_EQ(text(*second, "viaRef"), "two");
  EXPECT_EQ(viaRef->propertyForKey("value")->type(), MOXPValue::MacroReference);
}

class CallTableEntries : public ::testing::Test {
 protected:
  CallTableEntries()
      : call(makeCall({{"function", fnValue("f")}, {"a", refValue("m")}})),
        resource(MOXExpandedResource::builder().addMacro(call).build()),
        table(*resource) {}

  ValuePtr parameter(const std::string& key) const {
    MOXParameterMap parameters;
    table.snapshot(0, table.view(0), parameters);
    return parameters.get(key);
  }

  MOXExpandedFunctionCallPtr call;
  MOXExpandedResourcePtr resource;
  MOXCallTable table;
  std::shared_ptr<CountingMacro> implementation = std::make_shared<CountingMacro>("f", true);
};

TEST_F(CallTableEntries, StartWithTheCallsOwnPropertiesAndNothingResolved) {
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(&table.call(0), call.get());
  EXPECT_EQ(table.view(0), nullptr);
  EXPECT_EQ(parameter("a"), call->propertyForKey("a"));
  EXPECT_FALSE(table.mayHaveCachedResult(0));
  table.markResultCached(0);
  EXPECT_TRUE(table.mayHaveCachedResult(0));
}

TEST_F(CallTableEntries, AFoldMadeFromAnOutdatedViewIsDropped) {
  const ValuePtr original = call->propertyForKey("a");
  const ValuePtr folded = strValue("x");
  table.fold(0, nullptr, 1, original, folded);
  EXPECT_EQ(parameter("a"), folded);
  // A second thread that evaluated the same original loses: the parameter is no longer it.
  table.fold(0, nullptr, 1, original, strValue("y"));
  EXPECT_EQ(parameter("a"), folded);
  // Resolving keeps the fold, and a fold keeps the resolution.
  table.recordResolution(0, table.view(0), Role::kMacro, {implementation.get(), true});
  EXPECT_EQ(parameter("a"), folded);
  EXPECT_EQ(table.view(0)->resolution(Role::kMacro).implementation, implementation.get());
  EXPECT_EQ(table.view(0)->resolution(Role::kTag).implementation, nullptr);
  EXPECT_EQ(call->propertyForKey("a"), original);
}

TEST_F(CallTableEntries, AddingAKeyClearsResolutionsAndOutdatesWhatWasBasedOnTheOldKeys) {
  table.recordResolution(0, nullptr, Role::kTag, {implementation.get(), false});
  const MOXCallTable::View* before = table.view(0);
  ASSERT_NE(before, nullptr);

  table.setParameter(0, "a", strValue("replaced"));  // an existing key: resolutions stay
  EXPECT_EQ(table.view(0)->resolution(Role::kTag).implementation, implementation.get());
  table.setParameter(0, "name", strValue("k"));
  EXPECT_EQ(table.view(0)->resolution(Role::kTag).implementation, nullptr);
  EXPECT_EQ(parameter("name")->string(), "k");

  // Work that started from the view before the key was added does not land.
  table.recordResolution(0, before, Role::kTag, {implementation.get(), false});
  EXPECT_EQ(table.view(0)->resolution(Role::kTag).implementation, nullptr);
  table.fold(0, before, 1, before->parameters[1].second, strValue("late"));
  EXPECT_EQ(parameter("a")->string(), "replaced");
  // The old view is still readable by whoever holds it.
  EXPECT_EQ(before->parameters.size(), 2u);
  EXPECT_EQ(before->parameters[1].second, call->propertyForKey("a"));
}

TEST(CallTable, LookupsAndTagPassesOnManyThreadsShareOneTable) {
  constexpr int kMacros = 40;
  MOXExpandedResourceBuilder b;
  for (int i = 0; i < kMacros; ++i) {
    const std::string n = std::to_string(i);
    b.addMacro(makeCall({{"instance_name", strValue("m" + n)},
                         {"function", fnValue("echo")},
                         {"value", refValue("c" + n)}}));
    b.addMacro(constantMacro("c" + n, strValue("v" + n)));
    b.addRule(
        MOXExpandedRule::builder()
            .addPositivePredicate(predicateCall("_eq", refValue("m" + n), strValue("v" + n)))
            .addAddTag(makeCall({{"function", fnValue("count_tag")}, {"name", refValue("m" + n)}}))
            .build());
  }
  auto runtime =
      MOXRuntime::runtimeWithResource(b.build(), MOXDataLayer::create(), nullptr, nullptr);
  runtime->addMacro(std::make_shared<CountingMacro>("echo", false));
  auto tag = std::make_shared<CountingTag>("count_tag");
  runtime->addTrackingTag(tag);

  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < kMacros; ++i) {
          const int m = (i * (t + 1) + round) % kMacros;
          if (text(*runtime, "m" + std::to_string(m)) != "v" + std::to_string(m)) ++wrong;
        }
      }
    });
  }
  threads.emplace_back([&] {
    for (int round = 0; round < 20; ++round) runtime->evaluateTags("e");
  });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(tag->fired(), 20 * kMacros);
}

}  // namespace
}  // namespace loomset
