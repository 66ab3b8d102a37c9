// One tag evaluation reads a data-layer macro once while the data layer stays the same; these
// tests hold it to giving exactly what evaluating every reference would give.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "loomset/MOXRuntime.h"
#include "loomset/Objects.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using namespace testing;

class PassMemoTest : public ::testing::Test {
 protected:
  void make(const MOXExpandedResourcePtr& resource) {
    runtime = MOXRuntime::runtimeWithResource(resource, dataLayer, nullptr, nullptr);
    tag = std::make_shared<CountingTag>("count_tag");
    runtime->addTrackingTag(tag);
  }
  static MOXExpandedRulePtr ruleIf(const std::string& macro, const std::string& equals,
                                   const std::string& tagName) {
    return MOXExpandedRule::builder()
        .addPositivePredicate(predicateCall("_eq", refValue(macro), strValue(equals)))
        .addAddTag(makeCall({{"function", fnValue("count_tag")}, {"name", strValue(tagName)}}))
        .build();
  }
  std::vector<std::string> firedOnce() {
    auto names = tag->names();
    std::sort(names.begin(), names.end());
    return names;
  }

  std::shared_ptr<MOXDataLayer> dataLayer = MOXDataLayer::create();
  std::shared_ptr<MOXRuntime> runtime;
  std::shared_ptr<CountingTag> tag;
};

// A macro evaluated between two reads pushes into the data layer: the second read sees the push.
TEST_F(PassMemoTest, AReadAfterAPushWithinThePassSeesIt) {
  dataLayer->push(obj::dict({{"x", obj::str("a")}}));
  MOXExpandedResourceBuilder b;
  b.addMacro(dataLayerMacro("x", "x"));
  b.addMacro(constantMacro("pusher", strValue("v"), mapValue({{strValue("x"), strValue("b")}})));
  b.addRule(ruleIf("x", "a", "saw-a"));
  b.addRule(ruleIf("pusher", "v", "pushed"));
  b.addRule(ruleIf("x", "b", "saw-b"));
  make(b.build());

  runtime->evaluateTags("e");
  EXPECT_EQ(firedOnce(), (std::vector<std::string>{"pushed", "saw-a", "saw-b"}));
}

TEST_F(PassMemoTest, APushBetweenPassesIsSeenByTheNextPass) {
  dataLayer->push(obj::dict({{"x", obj::str("a")}}));
  MOXExpandedResourceBuilder b;
  b.addMacro(dataLayerMacro("x", "x"));
  b.addRule(ruleIf("x", "a", "a"));
  b.addRule(ruleIf("x", "c", "c"));
  make(b.build());
  runtime->evaluateTags("e");
  dataLayer->push(obj::dict({{"x", obj::str("c")}}));
  runtime->evaluateTags("e");
  EXPECT_EQ(tag->names(), (std::vector<std::string>{"a", "c"}));
}

// An application's macro may do anything: each reference calls it, also within one pass.
TEST_F(PassMemoTest, ApplicationMacrosRunOnEveryReference) {
  auto counting = std::make_shared<CountingMacro>("app_macro", false);
  MOXExpandedResourceBuilder b;
  b.addMacro(makeCall({{"instance_name", strValue("m")},
                       {"function", fnValue("app_macro")},
                       {"value", strValue("v")}}));
  for (int i = 0; i < 3; ++i) b.addRule(ruleIf("m", "v", "m" + std::to_string(i)));
  make(b.build());
  runtime->addMacro(counting);
  runtime->evaluateTags("e");
  EXPECT_EQ(counting->calls(), 3);
  EXPECT_EQ(tag->fired(), 3);
}

}  // namespace
}  // namespace loomset
