// Preview links applied by the manager to its open containers.
#include <gtest/gtest.h>

#include <algorithm>

#include "ContainerTestEnvironment.h"
#include "container/preview/MOXPreviewManager.h"

namespace loomset {
namespace {

using testing::constantResource;
using testing::ContainerServer;
using testing::ContainerTestEnvironment;
using testing::RecordingCallback;

std::string enterLink(const std::string& id) {
  return "loomset.c.shop://preview/p?id=" + id + "&wen_auth=token&wen_preview=7";
}

std::string exitLink(const std::string& id) {
  return "loomset.c.shop://preview/p?id=" + id + "&wen_preview=";
}

std::string previewPath(const std::string& id) {
  return "/r?id=" + id + "&wen_auth=token&wen_preview=7";
}

class ManagerPreviewTest : public ::testing::Test {
 protected:
  ManagerPreviewTest() {
    for (const char* id : {"GTM-A", "GTM-B"}) {
      env.server().setResource(id, constantResource("1", {{"greeting", id}}), "fp");
      callbacks[id] = std::make_shared<RecordingCallback>();
      containers[id] = manager->openContainerById(id, callbacks[id]);
      EXPECT_TRUE(env.runUntilEvents(*callbacks[id], 4));
    }
  }

  // The target of the last fetch, after running until `fetches` have been made.
  std::string lastFetchAfter(std::size_t fetches) {
    EXPECT_TRUE(env.runUntil([&] { return env.server().fetchCount() >= fetches; }));
    env.runUntil([&] {
      for (const auto& [id, callback] : callbacks) {
        if (callback->last() == "begin network") return false;
      }
      return true;
    });
    return env.server().fetches().back().target;
  }

  ContainerTestEnvironment env;
  std::shared_ptr<MOXManager> manager = env.newManager();
  std::map<std::string, std::shared_ptr<RecordingCallback>> callbacks;
  std::map<std::string, std::shared_ptr<MOXContainer>> containers;
};

TEST_F(ManagerPreviewTest, EnterSwitchAndExit) {
  ASSERT_EQ(env.server().fetchCount(), 2u);
  EXPECT_TRUE(manager->previewWithUrl(enterLink("GTM-A")));
  EXPECT_EQ(containers["GTM-A"]->veskUrlPathAndQuery(), previewPath("GTM-A"));
  EXPECT_FALSE(containers["GTM-B"]->veskUrlPathAndQuery().has_value());
  EXPECT_EQ(lastFetchAfter(3), previewPath("GTM-A") + "&v=i107577340&pv=fp");

  // Another id: A goes back to its normal fetches, B previews; only B keeps an override.
  env.platform().advanceAndRun(5);
  EXPECT_TRUE(manager->previewWithUrl(enterLink("GTM-B")));
  EXPECT_FALSE(containers["GTM-A"]->veskUrlPathAndQuery().has_value());
  EXPECT_EQ(containers["GTM-B"]->veskUrlPathAndQuery(), previewPath("GTM-B"));
  // Both fetches must also have been answered: an answer still on its way when the exit link
  // arrives would schedule the next fetch in 12 hours in place of the one the link asks for.
  lastFetchAfter(5);
  std::vector<std::string> targets;
  for (const auto& fetch : env.server().fetches()) targets.push_back(fetch.target);
  EXPECT_NE(std::find(targets.begin() + 3, targets.end(), "/r?id=GTM-A&v=i107577340&pv=fp"),
            targets.end());
  EXPECT_NE(
      std::find(targets.begin() + 3, targets.end(), previewPath("GTM-B") + "&v=i107577340&pv=fp"),
      targets.end());

  // The exit link for B ends preview mode; B fetches on its normal path again.
  env.platform().advanceAndRun(5);
  EXPECT_TRUE(manager->previewWithUrl(exitLink("GTM-B")));
  EXPECT_EQ(MOXPreviewManager::instance()->previewMode(), 0);
  EXPECT_FALSE(containers["GTM-B"]->veskUrlPathAndQuery().has_value());
  EXPECT_EQ(lastFetchAfter(6), "/r?id=GTM-B&v=i107577340&pv=fp");
}

TEST_F(ManagerPreviewTest, RejectedLinksChangeNothing) {
  EXPECT_TRUE(manager->previewWithUrl(enterLink("GTM-A")));
  const auto fetches = lastFetchAfter(3);
  for (const std::string& link :
       {std::string("loomset.c.shop://preview/p?id=GTM-A&wen_auth=token&wen_preview=7x"),
        exitLink("GTM-B"),  // not the id being previewed
        std::string("https://example.com/p?id=GTM-A&wen_auth=token&wen_preview=7"),
        std::string()}) {
    EXPECT_FALSE(manager->previewWithUrl(link)) << link;
  }
  EXPECT_TRUE(env.log().contains("Not a loomset Preview Url = " + exitLink("GTM-B")));
  EXPECT_TRUE(MOXPreviewManager::instance()->isPreviewingContainer("GTM-A"));
  EXPECT_EQ(containers["GTM-A"]->veskUrlPathAndQuery(), previewPath("GTM-A"));
  env.platform().runUntilIdle();
  EXPECT_EQ(env.server().fetchCount(), 3u);
}

TEST_F(ManagerPreviewTest, AContainerOpenedWhilePreviewedStartsWithThePreview) {
  EXPECT_TRUE(manager->previewWithUrl(enterLink("GTM-C")));
  env.platform().runUntilIdle();
  EXPECT_EQ(env.server().fetchCount(), 2u);  // nothing open was affected
  env.server().setResource("GTM-C", constantResource("1", {{"greeting", "preview"}}), "fp");
  auto callback = std::make_shared<RecordingCallback>();
  const auto container = manager->openContainerById("GTM-C", callback);
  ASSERT_TRUE(env.runUntilEvents(*callback, 4));
  EXPECT_EQ(callback->events()[1], "failure 0 saved");  // the saved copy is not read
  EXPECT_EQ(env.server().fetches().back().target, previewPath("GTM-C") + "&v=i107577340");
  EXPECT_EQ(container->veskUrlPathAndQuery(), previewPath("GTM-C"));
}

TEST_F(ManagerPreviewTest, ARefreshRefusedByTheBucketStillKeepsTheOverride) {
  containers["GTM-A"]->refresh();  // takes the first token; the next one is 5 s away
  lastFetchAfter(3);
  EXPECT_TRUE(manager->previewWithUrl(enterLink("GTM-A")));
  EXPECT_TRUE(env.log().contains("Container refresh was called too often. Ignored."));
  EXPECT_EQ(containers["GTM-A"]->veskUrlPathAndQuery(), previewPath("GTM-A"));
  env.platform().runUntilIdle();
  EXPECT_EQ(env.server().fetchCount(), 3u);
}

}  // namespace
}  // namespace loomset
