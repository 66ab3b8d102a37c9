// A container on its own: the default it starts from, its getters and handlers, and what it does
// once closed or in the default-container refresh mode. Nothing here reaches the network.
#include <gtest/gtest.h>

#include "ContainerTestEnvironment.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXRuntime.h"
#include "loomset/Objects.h"

namespace loomset {
namespace {

using testing::constantResource;
using testing::ContainerTestEnvironment;
using testing::invalidResource;
using testing::RecordingCallback;

constexpr char kId[] = "GTM-TEST";

const char kPlist[] =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>greeting</key><string>from the plist</string></dict></plist>)";

class ContainerTest : public ::testing::Test {
 protected:
  ContainerTestEnvironment env;
  std::shared_ptr<MOXManager> manager = env.newManager();
};

TEST_F(ContainerTest, StartsFromTheFirstBundleDefaultThatWorks) {
  // The binary default wins, and the JSON one beside it is never read.
  env.writeBundleFile(kId,
                      constantResource("7", {{"greeting", "from the binary"}}).SerializeAsString());
  env.writeBundleFile(std::string(kId) + ".json", R"({"greeting": "from the json"})");
  auto container = MOXContainer::create(kId, manager);
  EXPECT_EQ(container->stringForKey("greeting"), "from the binary");
  EXPECT_EQ(container->resourceVersion(), "7");
  EXPECT_TRUE(container->isDefault());
  EXPECT_FALSE(env.log().contains("from the json"));
  EXPECT_FALSE(env.log().contains(".json"));

  // A binary default that parses but does not expand is passed over, not left without a runtime.
  env.writeBundleFile(kId, invalidResource().SerializeAsString());
  env.log().clear();
  container = MOXContainer::create(kId, manager);
  EXPECT_TRUE(env.log().contains("Not loading resource: "));
  EXPECT_EQ(container->stringForKey("greeting"), "from the json");

  env.writeBundleFile(std::string(kId) + ".plist", kPlist);
  EXPECT_EQ(MOXContainer::create(kId, manager)->stringForKey("greeting"), "from the plist");
}

TEST_F(ContainerTest, WithoutADefaultEveryGetterAnswersItsDefault) {
  auto container = MOXContainer::create(kId, manager);
  EXPECT_EQ(env.log().count("No default container found; creating an empty container."), 1);
  EXPECT_EQ(container->stringForKey("greeting"), "");
  EXPECT_FALSE(container->booleanForKey("greeting"));
  EXPECT_EQ(container->doubleForKey("greeting"), 0.0);
  EXPECT_EQ(container->int64ForKey("greeting"), 0);
  EXPECT_EQ(container->resourceVersion(), "");
  EXPECT_EQ(container->lastRefreshTime(), 0.0);
}

TEST_F(ContainerTest, GettersConvertTheMacroValue) {
  env.writeBundleFile(std::string(kId) + ".json",
                      R"({"ratio": "2.75", "flag": true, "count": 12, "word": "many"})");
  auto container = MOXContainer::create(kId, manager);
  EXPECT_EQ(container->stringForKey("ratio"), "2.75");
  EXPECT_DOUBLE_EQ(container->doubleForKey("ratio"), 2.75);
  EXPECT_EQ(container->int64ForKey("count"), 12);
  EXPECT_TRUE(container->booleanForKey("flag"));
  EXPECT_EQ(container->stringForKey("flag"), "true");
  EXPECT_EQ(container->int64ForKey("word"), 0);
}

TEST_F(ContainerTest, ClosingForgetsTheRuntimeAndLeavesTheManager) {
  env.writeBundleFile(std::string(kId) + ".json", R"({"greeting": "hi"})");
  auto container = manager->openContainerById(kId, nullptr);
  ASSERT_NE(container, nullptr);
  EXPECT_EQ(manager->getContainerById(kId), container);
  container->close();
  EXPECT_EQ(manager->getContainerById(kId), nullptr);
  EXPECT_EQ(container->runtime(), nullptr);

  EXPECT_EQ(container->stringForKey("greeting"), "");
  EXPECT_FALSE(container->booleanForKey("greeting"));
  EXPECT_EQ(container->doubleForKey("greeting"), 0.0);
  EXPECT_EQ(container->int64ForKey("greeting"), 0);
  for (const char* getter : {"stringForKey", "booleanForKey", "doubleForKey", "int64ForKey"}) {
    EXPECT_TRUE(env.log().contains(std::string(getter) + " called for closed container"));
  }
  container->refresh();
  EXPECT_TRUE(env.log().contains("refresh called for closed container"));
  container->evaluateTags("purchase");  // nothing to evaluate, nothing raised

  // Loading it again raises nothing and starts nothing; the id can be opened afresh.
  container->loadWithCallback(std::make_shared<RecordingCallback>());
  env.platform().runUntilIdle();
  EXPECT_EQ(env.server().fetchCount(), 0u);
  EXPECT_NE(manager->openContainerById(kId, nullptr), nullptr);
}

TEST_F(ContainerTest, LoadsOnceOnly) {
  auto container = MOXContainer::create(kId, manager);
  container->loadWithCallback(nullptr);
  try {
    container->loadWithCallback(nullptr);
    ADD_FAILURE() << "a second load was accepted";
  } catch (const ContainerAlreadyLoadedException& e) {
    EXPECT_EQ(e.reason(), std::string("Container already loaded: container Id:") + kId);
  }
  container->close();
}

TEST_F(ContainerTest, DefaultContainerModeLoadsNothingAndNeverCallsBack) {
  env.writeBundleFile(std::string(kId) + ".json", R"({"greeting": "shipped"})");
  env.writeSavedFile(
      kId, testing::savedCopyBytes(constantResource("9", {{"greeting", "saved"}}), "f9", 1));
  manager->setRefreshMode(kMOXRefreshModeDefaultContainer);
  auto callback = std::make_shared<RecordingCallback>();
  auto container = manager->openContainerById(kId, callback);
  EXPECT_TRUE(env.log().contains("Container is in DEFAULT_CONTAINER mode. Use default container."));
  container->refresh();
  EXPECT_TRUE(
      env.log().contains("Container is in DEFAULT_CONTAINER mode. Refresh request is ignored."));
  env.platform().advanceAndRun(48 * 3600);
  EXPECT_EQ(callback->count(), 0u);
  EXPECT_EQ(env.server().fetchCount(), 0u);
  EXPECT_EQ(container->stringForKey("greeting"), "shipped");
  EXPECT_TRUE(container->isDefault());
}

class Recorder : public MOXFunctionCallTagHandler, public MOXFunctionCallMacroHandler {
 public:
  explicit Recorder(std::string answer) : answer_(std::move(answer)) {}
  void execute(const std::string& name, const std::shared_ptr<Dictionary>&) override {
    calls.push_back(name);
  }
  ObjectPtr valueForMacro(const std::string&, const std::shared_ptr<Dictionary>&) override {
    return obj::str(answer_);
  }
  std::vector<std::string> calls;

 private:
  const std::string answer_;
};

TEST_F(ContainerTest, HandlersAreKeptByNameOneTableForTagsOneForMacros) {
  auto container = MOXContainer::create(kId, manager);
  auto first = std::make_shared<Recorder>("first");
  auto second = std::make_shared<Recorder>("second");
  container->registerFunctionCallMacroHandler(first, "tier");
  EXPECT_EQ(container->functionCallMacroHandlerForMacro("tier"), first);
  EXPECT_EQ(container->functionCallTagHandlerForTag("tier"), nullptr);
  container->registerFunctionCallMacroHandler(second, "tier");
  EXPECT_EQ(container->functionCallMacroHandlerForMacro("tier"), second);
  container->registerFunctionCallTagHandler(first, "tier");
  EXPECT_EQ(container->functionCallTagHandlerForTag("tier"), first);
  container->registerFunctionCallTagHandler(nullptr, "tier");
  EXPECT_EQ(container->functionCallTagHandlerForTag("tier"), nullptr);
  EXPECT_EQ(container->functionCallMacroHandlerForMacro("other"), nullptr);
}

}  // namespace
}  // namespace loomset
