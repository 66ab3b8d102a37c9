// The analytics user defaults file: values survive a new instance, a damaged file reads as empty,
// and a full disk or a refused open never costs what the file already holds.
#include <gtest/gtest.h>

#include <fstream>

#include "Library/Util/platform/PosixFileSystem.h"
#include "analytics/PLULog.h"
#include "analytics/PLUUserDefaults.h"
#include "support/FaultInjectingFileSystem.h"
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

class PLUUserDefaultsFaultTest : public ::testing::Test {
 protected:
  PLUUserDefaultsFaultTest() { plu_log::setSharedLogger(log_); }
  ~PLUUserDefaultsFaultTest() override {
    plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
  }
  std::string path() const { return dir_.file("Library/Preferences/kestrel-defaults.json"); }
  // What a later launch reads, through the real file system.
  PLUUserDefaults reread() const {
    return PLUUserDefaults(path(), std::make_shared<PosixFileSystem>());
  }

  testing::TempDir dir_;
  std::shared_ptr<testing::FaultInjectingFileSystem> files_ =
      std::make_shared<testing::FaultInjectingFileSystem>();
  std::shared_ptr<testing::PLURecordingLogger> log_ =
      std::make_shared<testing::PLURecordingLogger>();
};

TEST_F(PLUUserDefaultsFaultTest, AFullDiskKeepsTheSavedFileAndTheNextSaveCatchesUp) {
  PLUUserDefaults defaults(path(), files_);
  defaults.setDouble(1700000000, "PLUFirstInitTimeStamp");
  ASSERT_TRUE(defaults.synchronize());

  files_->fillDisk();
  defaults.setBool(true, "PLUCampaignInfoIAd");
  EXPECT_FALSE(defaults.synchronize());
  EXPECT_TRUE(log_->contains("Failed to write user defaults"));
  EXPECT_EQ(reread().doubleForKey("PLUFirstInitTimeStamp"), 1700000000);
  EXPECT_FALSE(reread().hasKey("PLUCampaignInfoIAd"));
  EXPECT_EQ(defaults.boolForKey("PLUCampaignInfoIAd"), true);  // still held, not lost

  files_->heal();
  ASSERT_TRUE(defaults.synchronize());
  EXPECT_EQ(reread().doubleForKey("PLUFirstInitTimeStamp"), 1700000000);
  EXPECT_EQ(reread().boolForKey("PLUCampaignInfoIAd"), true);
}

// The facade writes the first-start date when the key is missing: a file it could not read at
// that moment must neither be overwritten nor lose its older date.
TEST_F(PLUUserDefaultsFaultTest, AFileThatCannotBeReadIsNeverWrittenOver) {
  {
    PLUUserDefaults earlier(path(), files_);
    earlier.setDouble(1600000000, "PLUFirstInitTimeStamp");
    ASSERT_TRUE(earlier.synchronize());
  }
  // Refused for each of the four calls up to the save.
  files_->failNext(testing::FaultInjectingFileSystem::Operation::kReadFile, 4);
  PLUUserDefaults defaults(path(), files_);
  EXPECT_FALSE(defaults.hasKey("PLUFirstInitTimeStamp"));
  defaults.setDouble(1700000000, "PLUFirstInitTimeStamp");
  defaults.setBool(false, "PLUCampaignInfoIAd");
  EXPECT_FALSE(defaults.synchronize());
  EXPECT_TRUE(log_->contains("Failed to write user defaults: cannot read " + path()));
  EXPECT_EQ(reread().doubleForKey("PLUFirstInitTimeStamp"), 1600000000);

  // Readable again: the date on file stays the first one, the new key is added.
  EXPECT_EQ(defaults.doubleForKey("PLUFirstInitTimeStamp"), 1600000000);
  ASSERT_TRUE(defaults.synchronize());
  EXPECT_EQ(reread().doubleForKey("PLUFirstInitTimeStamp"), 1600000000);
  EXPECT_EQ(reread().boolForKey("PLUCampaignInfoIAd"), false);
}

}  // namespace
}  // namespace loomset
