// The manager: its process-wide instance, opening and forgetting containers, and data-layer
// events reaching the tags of every open container.
#include <gtest/gtest.h>

#include <mutex>

#include "ContainerTestEnvironment.h"
#include "loomset/Objects.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using testing::ContainerTestEnvironment;
using testing::ServingResourceBuilder;

// Fires the "_func" tag "fired" when the event is "42".
MOXPResource tagOnEvent42() {
  ServingResourceBuilder b;
  const int eventName = b.addString("eventName");
  b.addMacro({{"instance_name", eventName}, {"function", b.addFunctionId("_e")}});
  const int predicate = b.addPredicate({{"function", b.addFunctionId("_eq")},
                                        {"arg0", b.addMacroReference(eventName)},
                                        {"arg1", b.addString("42")}});
  const int tag = b.addTag(
      {{"function", b.addFunctionId("_func")}, {"function_call_macro_name", b.addString("fired")}});
  MOXPRule* rule = b.addRule();
  rule->add_positive_predicate(predicate);
  rule->add_add_tag(tag);
  b.resource().set_version("1");
  return b.resource();
}

class CountingTag : public MOXFunctionCallTagHandler {
 public:
  void execute(const std::string&, const std::shared_ptr<Dictionary>&) override {
    std::lock_guard<std::mutex> lock(mu_);
    ++calls_;
  }
  int calls() {
    std::lock_guard<std::mutex> lock(mu_);
    return calls_;
  }

 private:
  std::mutex mu_;
  int calls_ = 0;
};

class ManagerTest : public ::testing::Test {
 protected:
  ContainerTestEnvironment env;
};

TEST_F(ManagerTest, OneRememberedInstanceUntilCleared) {
  MOXManager::clearManagerInstance();
  const auto first = MOXManager::instance();
  EXPECT_EQ(MOXManager::instance(), first);
  EXPECT_EQ(MOXManager::createWithSameInstance(true), first);
  const auto replacement = MOXManager::createWithSameInstance(false);
  EXPECT_NE(replacement, first);
  EXPECT_EQ(MOXManager::instance(), replacement);
  MOXManager::clearManagerInstance();
  const auto fresh = MOXManager::instance();
  EXPECT_NE(fresh, replacement);
  EXPECT_NE(fresh->dataLayer(), replacement->dataLayer());
  EXPECT_EQ(fresh->refreshMode(), kMOXRefreshModeStandard);
  EXPECT_FALSE(fresh->veskServerAddress().has_value());
}

TEST_F(ManagerTest, AnIdIsOpenOnceUntilItsContainerCloses) {
  const auto manager = env.newManager();
  const auto container = manager->openContainerById("GTM-A", nullptr);
  ASSERT_NE(container, nullptr);
  EXPECT_EQ(container->veskServerAddress(), env.server().address());
  EXPECT_EQ(manager->openContainerById("GTM-A", nullptr), nullptr);
  EXPECT_TRUE(env.log().contains("Container id: GTM-A has already been opened"));
  EXPECT_EQ(manager->getContainerById("GTM-A"), container);
  EXPECT_EQ(manager->getContainerById("GTM-B"), nullptr);

  // `containerById` makes a container without opening it.
  const auto loose = manager->containerById("GTM-B");
  EXPECT_EQ(loose->containerId(), "GTM-B");
  EXPECT_EQ(manager->getContainerById("GTM-B"), nullptr);
  // Closing a container that was never opened leaves the open one of its id alone.
  manager->containerById("GTM-A")->close();
  EXPECT_EQ(manager->getContainerById("GTM-A"), container);

  container->close();
  EXPECT_EQ(manager->getContainerById("GTM-A"), nullptr);
  const auto reopened = manager->openContainerById("GTM-A", nullptr);
  EXPECT_NE(reopened, nullptr);
  EXPECT_NE(reopened, container);
}

TEST_F(ManagerTest, PushedEventsEvaluateTheTagsOfEveryOpenContainer) {
  const std::string bytes = tagOnEvent42().SerializeAsString();
  env.writeBundleFile("GTM-A", bytes);
  env.writeBundleFile("GTM-B", bytes);
  const auto manager = env.newManager();
  manager->setRefreshMode(kMOXRefreshModeDefaultContainer);  // the bundle defaults stay
  auto a = std::make_shared<CountingTag>();
  auto b = std::make_shared<CountingTag>();
  manager->openContainerById("GTM-A", nullptr)->registerFunctionCallTagHandler(a, "fired");
  manager->openContainerById("GTM-B", nullptr)->registerFunctionCallTagHandler(b, "fired");

  const auto& dataLayer = manager->dataLayer();
  // The event's text form decides: the number 42 reads "42".
  dataLayer->push(obj::dict({{"event", obj::i64(42)}}));
  EXPECT_EQ(a->calls(), 1);
  EXPECT_EQ(b->calls(), 1);
  dataLayer->push(obj::dict({{"event", obj::str("41")}}));
  dataLayer->push(obj::dict({{"eventName", obj::str("42")}, {"page", obj::str("home")}}));
  EXPECT_EQ(a->calls(), 1);
  manager->refreshTagsInAllContainers("42");
  EXPECT_EQ(a->calls(), 2);
  EXPECT_EQ(b->calls(), 2);

  // A closed container no longer hears events.
  manager->getContainerById("GTM-B")->close();
  dataLayer->push(obj::dict({{"event", obj::str("42")}}));
  EXPECT_EQ(a->calls(), 3);
  EXPECT_EQ(b->calls(), 2);
}

TEST_F(ManagerTest, SettingsReachTheContainersOpenedAfterThem) {
  const auto manager = env.newManager();
  manager->setVeskServerAddress(std::string("http://127.0.0.1:1"));
  EXPECT_EQ(manager->openContainerById("GTM-A", nullptr)->veskServerAddress(),
            std::string("http://127.0.0.1:1"));
  manager->setVeskServerAddress(std::nullopt);
  EXPECT_FALSE(manager->openContainerById("GTM-B", nullptr)->veskServerAddress().has_value());

  auto logger = std::make_shared<testing::RecordingLogger>();
  const auto previous = manager->logger();
  manager->setLogger(logger);
  EXPECT_EQ(MOXLog::logger(), logger);
  manager->setLogger(previous);
}

}  // namespace
}  // namespace loomset
