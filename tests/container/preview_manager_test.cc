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

TEST_F(PreviewManagerTest, LinksOfEveryShapeAreAnsweredWithoutHarm) {
  const std::string longId(4096, 'x');
  const std::string hugeId(1 << 20, 'x');
  const std::string longJunk = "loomset.c." + std::string(1 << 20, 'a');
  std::string repeated = "loomset.c.app://preview/p?id=A";
  for (int i = 0; i < 20000; ++i) repeated += "&wen_auth=://preview/p?id=";
  struct Case {
    const char* what;
    std::string link;
    bool accepted;
    std::string id;  // the id previewed afterwards
  };
  const std::vector<Case> cases = {
      {"only a scheme", "loomset.c.app://", false, ""},
      {"scheme without slashes", "loomset.c.app:", false, ""},
      {"no query", "loomset.c.app://preview/p", false, ""},
      {"id holding &", "loomset.c.app://preview/p?id=GTM&1&wen_auth=a&wen_preview=1", false, ""},
      {"no auth value", "loomset.c.app://preview/p?id=GTM-1&wen_auth=&wen_preview=1", false, ""},
      {"no number", "loomset.c.app://preview/p?id=GTM-1&wen_auth=a", false, ""},
      {"exit without id", "loomset.c.app://preview/p?id=&wen_preview=", false, ""},
      {"exit without its parameter", "loomset.c.app://preview/p?id=GTM-1", false, ""},
      {"long junk", longJunk, false, ""},
      {"many repeated parts", repeated, false, ""},
      {"invalid UTF-8", "loomset.c.app://preview/p?id=\xff\xfe&wen_auth=a&wen_preview=1", true,
       "\xff\xfe"},
      {"percent-escapes kept as they are",
       "loomset.c.app://preview/p?id=GTM%2D1&wen_auth=a%20b&wen_preview=2", true, "GTM%2D1"},
      {"unicode", "loomset.c.app://preview/p?id=GTM-\u00fc&wen_auth=\u043a\u043b&wen_preview=5",
       true, "GTM-\u00fc"},
      {"very long id", "loomset.c.app://preview/p?id=" + longId + "&wen_auth=a&wen_preview=9", true,
       longId},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    manager_->clear();
    EXPECT_EQ(manager_->generatePreviewDataForUrl(c.link), c.accepted);
    EXPECT_EQ(manager_->containerId().value_or(""), c.id);
    EXPECT_EQ(manager_->previewMode(), c.accepted ? 1 : 0);
    if (c.accepted) {
      EXPECT_EQ(manager_->veskUrlPath(), "/r?" + c.link.substr(c.link.find('?') + 1));
    }
  }
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
