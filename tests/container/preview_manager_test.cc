// Preview links: entering, leaving and switching preview mode, and the links that must not change
// it.
#include <gtest/gtest.h>

#include <string>

#include "container/preview/MOXPreviewManager.h"
#include "support/RecordingLogger.h"

namespace loomset {
namespace {

const std::string kEnter1 = "loomset.c.shop://preview/p?id=GTM-1&wen_auth=a1b2&wen_preview=3";
const std::string kExit1 = "loomset.c.shop://preview/p?id=GTM-1&wen_preview=";

class PreviewManagerTest : public ::testing::Test {
 protected:
  PreviewManagerTest() { manager_->clear(); }
  ~PreviewManagerTest() override { manager_->clear(); }

  std::shared_ptr<MOXPreviewManager> manager_ = MOXPreviewManager::instance();
  testing::ScopedRecordingLogger log_;
};

TEST_F(PreviewManagerTest, EntersLeavesAndSwitches) {
  ASSERT_TRUE(manager_->generatePreviewDataForUrl(kEnter1));
  EXPECT_TRUE(log_->contains("Preview Url = " + kEnter1));
  EXPECT_EQ(manager_->previewMode(), 1);
  EXPECT_EQ(manager_->veskUrlPath(), "/r?id=GTM-1&wen_auth=a1b2&wen_preview=3");
  EXPECT_EQ(manager_->containerId(), "GTM-1");
  EXPECT_TRUE(manager_->isPreviewingContainer("GTM-1"));
  EXPECT_FALSE(manager_->isPreviewingContainer("GTM-2"));

  // Another id takes over.
  ASSERT_TRUE(manager_->generatePreviewDataForUrl(
      "loomset.c.shop://preview/p?id=GTM-2&wen_auth=zz&wen_preview=10"));
  EXPECT_EQ(manager_->containerId(), "GTM-2");
  EXPECT_EQ(manager_->veskUrlPath(), "/r?id=GTM-2&wen_auth=zz&wen_preview=10");
  EXPECT_FALSE(manager_->isPreviewingContainer("GTM-1"));

  // Leaving keeps the id but drops the path.
  ASSERT_TRUE(
      manager_->generatePreviewDataForUrl("loomset.c.shop://preview/p?id=GTM-2&wen_preview="));
  EXPECT_EQ(manager_->previewMode(), 0);
  EXPECT_EQ(manager_->veskUrlPath(), std::nullopt);
  EXPECT_EQ(manager_->containerId(), "GTM-2");
  EXPECT_FALSE(manager_->isPreviewingContainer("GTM-2"));

  manager_->clear();
  EXPECT_EQ(manager_->containerId(), std::nullopt);
}

TEST_F(PreviewManagerTest, RejectsLinksThatAreNotPreviewLinksAndKeepsTheState) {
  ASSERT_TRUE(manager_->generatePreviewDataForUrl(kEnter1));
  const std::string rejected[] = {
      "loomset.c.shop://preview/p?id=GTM-1&wen_auth=a1b2&wen_preview=3x",  // not all digits
      "loomset.c.shop://preview/p?id=GTM-1&wen_auth=a1b2&wen_preview=-3",
      "loomset.c.shop://preview/p?id=GTM-1&wen_preview=3&wen_auth=a1b2",  // wrong order
      "loomset.c.shop://elsewhere/p?id=GTM-1&wen_auth=a1b2&wen_preview=3",
      "other.c.shop://preview/p?id=GTM-1&wen_auth=a1b2&wen_preview=3",
      "loomset.c.shop://preview/p?id=&wen_auth=a1b2&wen_preview=3",  // no id
      "loomset.c.shop://preview/p?id=GTM 1&wen_auth=a1b2&wen_preview=3",
      "loomset.c.shop://preview/p?id=GTM-2&wen_preview=",  // exit for another id
      // An entering link without its number once passed for an exit link of GTM-1, its id
      // reaching over "&wen_auth=...".
      "loomset.c.shop://preview/p?id=GTM-1&wen_auth=a1b2&wen_preview=",
  };
  for (const auto& link : rejected) {
    log_->clear();
    EXPECT_FALSE(manager_->generatePreviewDataForUrl(link)) << link;
    EXPECT_TRUE(log_->contains("Not a loomset Preview Url = " + link)) << link;
    EXPECT_TRUE(manager_->isPreviewingContainer("GTM-1")) << link;
    EXPECT_EQ(manager_->veskUrlPath(), "/r?id=GTM-1&wen_auth=a1b2&wen_preview=3") << link;
  }

  log_->clear();
  EXPECT_FALSE(manager_->generatePreviewDataForUrl(""));
  EXPECT_FALSE(log_->contains("Preview Url"));

  // An exit link when nothing was ever previewed.
  manager_->clear();
  EXPECT_FALSE(manager_->generatePreviewDataForUrl(kExit1));
}

TEST_F(PreviewManagerTest, TakesTheContainerIdFromTheFirstParameter) {
  EXPECT_EQ(MOXPreviewManager::containerIdForQuery("id=GTM-1&wen_auth=x"), "GTM-1");
  EXPECT_EQ(MOXPreviewManager::containerIdForQuery("id=GTM-1"), "GTM-1");
  EXPECT_EQ(MOXPreviewManager::containerIdForQuery("id=a=b&x=y"), "a");
  EXPECT_EQ(MOXPreviewManager::containerIdForQuery("id"), "");
  EXPECT_EQ(MOXPreviewManager::containerIdForQuery(""), "");
}

}  // namespace
}  // namespace loomset
