#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "loomset/MOXDataLayer.h"
#include "loomset/MOXResourceUtil.h"
#include "loomset/MOXRuntime.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

using namespace testing;

// A container built the way the server sends one: macros that chain the built-in macros through
// references, and a rule whose predicate reads a regex group of a data-layer value.
class BuiltInMacrosInARuntime : public ::testing::Test {
 protected:
  BuiltInMacrosInARuntime() {
    ServingResourceBuilder s;
    auto fn = [&](const char* id) { return s.addFunctionId(id); };
    auto macro = [&](const char* name, std::vector<std::pair<std::string, int>> properties) {
      properties.insert(properties.begin(), {"instance_name", s.addString(name)});
      s.addMacro(properties);
    };
    auto ref = [&](const char* name) { return s.addMacroReference(s.addString(name)); };

    macro("page", {{"function", fn("_v")}, {"name", s.addString("page")}});
    macro("url", {{"function", fn("_v")}, {"name", s.addString("url")}});
    macro("joined", {{"function", fn("_jn")},
                     {"arg0", s.addList({s.addString("a"), ref("page")}, true)},
                     {"item_separator", s.addString(",")}});
    macro(
        "digest",
        {{"function", fn("_hsh")}, {"arg0", ref("joined")}, {"algorithm", s.addString("SHA-256")}});
    macro("b64", {{"function", fn("_enc")},
                  {"arg0", s.addString("abc")},
                  {"output_format", s.addString("base64")}});
    macro("section",
          {{"function", fn("_reg")}, {"arg0", ref("url")}, {"arg1", s.addString("^/([a-z]+)/")}});
    macro("now", {{"function", fn("_t")}});
    macro("roll", {{"function", fn("_r")}, {"min", s.addInteger(1)}, {"max", s.addInteger(7)}});
    macro("app", {{"function", fn("_an")}});
    macro("screen", {{"function", fn("_rs")}});
    macro("version", {{"function", fn("_ctv")}});
    macro("bad_hex", {{"function", fn("_hsh")},
                      {"arg0", s.addString("xyz")},
                      {"input_format", s.addString("base16")}});

    const int shop = s.addPredicate(
        {{"function", fn("_eq")}, {"arg0", ref("section")}, {"arg1", s.addString("shop")}});
    const int tag = s.addTag({{"function", fn("count_tag")}, {"name", s.addString("shop-tag")}});
    MOXPRule* rule = s.addRule();
    rule->add_positive_predicate(shop);
    rule->add_add_tag(tag);
    s.resource().set_version("17");

    runtime = MOXRuntime::runtimeWithResource(MOXResourceUtil::expandResourceFromBytes(s.bytes()),
                                              dataLayer, nullptr, nullptr);
    countTag = std::make_shared<CountingTag>("count_tag");
    runtime->addTrackingTag(countTag);
  }

  MOXPValueAndStatic lookup(const std::string& name) {
    return runtime->evaluateMacroReference(name);
  }
  std::string text(const std::string& name) {
    return MOXTypes::valueToString(lookup(name).value())->text();
  }

  ScopedPlatform platform;
  std::shared_ptr<MOXDataLayer> dataLayer = MOXDataLayer::create();
  std::shared_ptr<MOXRuntime> runtime;
  std::shared_ptr<CountingTag> countTag;
};

TEST_F(BuiltInMacrosInARuntime, ChainedMacrosFollowTheDataLayer) {
  dataLayer->push(obj::dict({{"page", obj::str("home")}}));
  EXPECT_EQ(text("joined"), "a,home");
  EXPECT_EQ(text("digest"), "88ABFAB3233C08DB36EB7A4744F1A17E82C0CD3293B348A7B1D2B08925B885CC");
  EXPECT_FALSE(lookup("digest").isStatic());  // it reads the data layer through "joined"
  dataLayer->push(obj::dict({{"page", obj::str("cart")}}));
  EXPECT_EQ(text("joined"), "a,cart");
}

TEST_F(BuiltInMacrosInARuntime, ConstantResultsAreStaticAndClockOrRandomOnesAreNot) {
  EXPECT_EQ(text("b64"), "YWJj");
  EXPECT_TRUE(lookup("b64").isStatic());
  EXPECT_EQ(text("app"), "LoomsetTests");
  EXPECT_TRUE(lookup("app").isStatic());
  EXPECT_EQ(text("screen"), "2048x1536");
  EXPECT_EQ(text("version"), "17");
  EXPECT_TRUE(lookup("version").isStatic());

  const std::int64_t before = lookup("now").value()->integer();
  EXPECT_FALSE(lookup("now").isStatic());
  platform.clock().advance(2500.0);
  EXPECT_EQ(lookup("now").value()->integer(), before + 2500);

  std::map<std::int64_t, int> rolls;
  for (int i = 0; i < 200; ++i) {
    const MOXPValueAndStatic roll = lookup("roll");
    EXPECT_FALSE(roll.isStatic());
    ++rolls[roll.value()->integer()];
  }
  EXPECT_EQ(rolls.size(), 6u);
  EXPECT_EQ(rolls.begin()->first, 1);
  EXPECT_EQ(rolls.rbegin()->first, 6);
}

TEST_F(BuiltInMacrosInARuntime, MalformedInputFailsTheLookupWithoutRaising) {
  ScopedRecordingLogger log;
  EXPECT_EQ(lookup("bad_hex").value(), MOXTypes::defaultValue());
  EXPECT_TRUE(log->contains("Hash: invalid input: xyz"));
}

TEST_F(BuiltInMacrosInARuntime, RegexGroupsDecideWhichTagsFire) {
  dataLayer->push(obj::dict({{"url", obj::str("/shop/item/7")}}));
  runtime->evaluateTags("view");
  dataLayer->push(obj::dict({{"url", obj::str("/home/")}}));
  runtime->evaluateTags("view");
  dataLayer->push(obj::dict({{"url", obj::str("no-slash")}}));
  runtime->evaluateTags("view");
  EXPECT_EQ(countTag->names(), std::vector<std::string>{"shop-tag"});
}

// "_v" remembers its conversions per thread; with many entries some share a place in that memo,
// and every lookup must still answer the entry that is in the data layer now.
TEST(DataLayerMacroInARuntime, ManyEntriesEachAnswerTheirCurrentValue) {
  constexpr int kEntries = 150;
  auto dataLayer = MOXDataLayer::create();
  MOXExpandedResourceBuilder b;
  for (int i = 0; i < kEntries; ++i) {
    b.addMacro(dataLayerMacro("m" + std::to_string(i), "k" + std::to_string(i)));
  }
  auto runtime = MOXRuntime::runtimeWithResource(b.build(), dataLayer, nullptr, nullptr);
  auto text = [&](int i) {
    return MOXTypes::valueToString(runtime->evaluateMacroReference("m" + std::to_string(i)).value())
        ->text();
  };
  for (const char* round : {"a", "b"}) {
    auto update = Dictionary::create();
    for (int i = 0; i < kEntries; ++i) {
      update->setObject(obj::str(round + std::to_string(i)), "k" + std::to_string(i));
    }
    dataLayer->push(update);
    for (int pass = 0; pass < 2; ++pass) {
      for (int i = 0; i < kEntries; ++i) ASSERT_EQ(text(i), round + std::to_string(i));
    }
  }
}

TEST(BuiltInRegistration, EveryBuiltInIsRegisteredWithItsKeysAndCacheability) {
  ScopedPlatform platform;
  auto runtime = MOXRuntime::runtimeWithResource(MOXExpandedResourceBuilder().build(),
                                                 MOXDataLayer::create(), nullptr, nullptr);
  struct Expected {
    bool cacheable;
    std::vector<std::string> requiredKeys;
  };
  const std::map<std::string, Expected> macros = {
      {"_adi", {true, {}}},
      {"_aid", {true, {}}},
      {"_cqid", {true, {}}},
      {"_ate", {true, {}}},
      {"_cqcr", {true, {"conversion_id"}}},
      {"_ai", {true, {}}},
      {"_an", {true, {}}},
      {"_av", {true, {}}},
      {"_c", {true, {"value"}}},
      {"_ctv", {true, {}}},
      {"_func", {false, {}}},
      {"_v", {false, {"name"}}},
      {"_dn", {true, {}}},
      {"_enc", {true, {"arg0"}}},
      {"_e", {false, {}}},
      {"_wenv", {true, {}}},
      {"_hsh", {true, {"arg0"}}},
      {"_jn", {true, {"arg0"}}},
      {"_l", {false, {}}},
      {"_ov", {true, {}}},
      {"_p", {true, {}}},
      {"_r", {false, {}}},
      {"_reg", {true, {"arg0", "arg1"}}},
      {"_rs", {true, {}}},
      {"_rv", {true, {}}},
      {"_sv", {true, {}}},
      {"_t", {false, {}}},
  };
  ASSERT_EQ(macros.size(), 27u);
  EXPECT_EQ(runtime->macroMap().size(), macros.size());
  for (const auto& [id, expected] : macros) {
    const auto found = runtime->macroMap().find(id);
    ASSERT_NE(found, runtime->macroMap().end()) << id;
    EXPECT_EQ(found->second->instanceFunctionId(), id);
    EXPECT_EQ(found->second->isCacheable(), expected.cacheable) << id;
    if (id != "_func") EXPECT_EQ(found->second->requiredKeys(), expected.requiredKeys) << id;
  }
  // "_func" serves as a tag too, beside the data-layer write tag.
  EXPECT_EQ(runtime->trackingTagMap().count("_func"), 1u);
  EXPECT_EQ(runtime->trackingTagMap().count("_dlw"), 1u);
  EXPECT_EQ(runtime->predicateMap().size(), 9u);
}

}  // namespace
}  // namespace loomset
