#include "Library/Util/MOXLogErrorCapture.h"

#include <gtest/gtest.h>

#include <thread>

#include "loomset/MOXLog.h"
#include "support/RecordingLogger.h"

namespace loomset {
namespace {

TEST(LogErrorCapture, KeepsTheFirstErrorOfItsOwnThreadAndStillLogsIt) {
  testing::ScopedRecordingLogger log;
  MOXLogErrorCapture outer;
  MOXLog::warning("not an error");
  std::thread([] { MOXLog::error("from another thread"); }).join();
  EXPECT_FALSE(outer.firstError().has_value());
  MOXLog::error("first");
  MOXLog::error("second");
  EXPECT_EQ(outer.firstError(), std::optional<std::string>("first"));
  EXPECT_TRUE(log->contains("second"));
  EXPECT_TRUE(log->contains("from another thread"));

  outer.reset();
  {
    MOXLogErrorCapture inner;
    MOXLog::error("inner");
    EXPECT_EQ(inner.firstError(), std::optional<std::string>("inner"));
  }
  EXPECT_FALSE(outer.firstError().has_value());
  MOXLog::error("outer again");
  EXPECT_EQ(outer.firstError(), std::optional<std::string>("outer again"));
}

TEST(LogErrorCapture, MakesErrorTextsWorthBuildingWhileItLives) {
  testing::ScopedRecordingLogger log;
  log->setLogLevel(kMOXLogLevelNone);
  EXPECT_FALSE(MOXLog::enabled(kMOXLogLevelError));
  MOXLogErrorCapture capture;
  EXPECT_TRUE(MOXLog::enabled(kMOXLogLevelError));
  EXPECT_FALSE(MOXLog::enabled(kMOXLogLevelWarning));
}

}  // namespace
}  // namespace loomset
