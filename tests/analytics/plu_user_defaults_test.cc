// The analytics user defaults file: values survive a new instance, a damaged file reads as empty.
#include <gtest/gtest.h>

#include <fstream>

#include "analytics/PLULog.h"
#include "analytics/PLUUserDefaults.h"
#include "support/PLURecording.h"
#include "support/TempDir.h"

namespace loomset {
namespace {

TEST(PLUUserDefaults, KeepsValuesAndSurvivesADamagedFile) {
  testing::TempDir dir;
  auto log = std::make_shared<testing::PLURecordingLogger>();
  plu_log::setSharedLogger(log);

  auto defaults = PLUUserDefaults::forLibraryDirectory(dir.path() + "/Library");
  EXPECT_EQ(PLUUserDefaults::forLibraryDirectory(dir.path() + "/Library"), defaults);
  EXPECT_FALSE(defaults->hasKey("PLUFirstInitTimeStamp"));
  defaults->setDouble(1700000000.5, "PLUFirstInitTimeStamp");
  defaults->setBool(true, "PLUCampaignInfoIAd");
  ASSERT_TRUE(defaults->synchronize());

  PLUUserDefaults reread(defaults->path());
  EXPECT_EQ(reread.doubleForKey("PLUFirstInitTimeStamp"), 1700000000.5);
  EXPECT_EQ(reread.boolForKey("PLUCampaignInfoIAd"), true);
  EXPECT_EQ(reread.doubleForKey("PLUCampaignInfoIAd"), std::nullopt);  // not a number
  reread.removeKey("PLUCampaignInfoIAd");
  EXPECT_FALSE(reread.hasKey("PLUCampaignInfoIAd"));

  std::ofstream(defaults->path(), std::ios::trunc) << "{not json";
  PLUUserDefaults damaged(defaults->path());
  EXPECT_FALSE(damaged.hasKey("PLUFirstInitTimeStamp"));
  EXPECT_TRUE(log->contains("Ignoring unreadable user defaults file"));
  damaged.setDouble(2, "x");
  EXPECT_TRUE(damaged.synchronize());  // replaces the damaged file
  EXPECT_EQ(PLUUserDefaults(defaults->path()).doubleForKey("x"), 2.0);

  // A Library path that is a file cannot hold the defaults: the failure is reported.
  std::ofstream(dir.file("blocker")) << "x";
  PLUUserDefaults blocked(dir.file("blocker") + "/Preferences/d.json");
  blocked.setDouble(1, "x");
  EXPECT_FALSE(blocked.synchronize());
  EXPECT_TRUE(log->contains("Failed to write user defaults"));
  plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
}

}  // namespace
}  // namespace loomset
