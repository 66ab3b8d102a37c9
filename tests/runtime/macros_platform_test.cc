#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include "loomset/MOXTypes.h"
#include "loomset/platform/PLUAdvertisingIdAccess.h"
#include "runtime/macros/MOXAdvertiserId.h"
#include "runtime/macros/MOXApplicationMacros.h"
#include "runtime/macros/MOXClickReferrerUtil.h"
#include "runtime/macros/MOXCliquetClickReferrer.h"
#include "runtime/macros/MOXDeviceMacros.h"
#include "runtime/macros/MOXLanguage.h"
#include "runtime/macros/MOXResolution.h"
#include "runtime/macros/MOXTime.h"
#include "runtime/macros/MOXVersionMacros.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

using namespace testing;
using Params = std::vector<std::pair<std::string, ValuePtr>>;

TEST(PlatformMacros, ApplicationAndDeviceFactsComeFromThePlatformBundle) {
  ScopedPlatform platform;  // see ScopedPlatform.h for the facts it installs
  ScopedRecordingLogger log;
  EXPECT_EQ(stringResult(evaluateDirectly(MOXAppId())), "org.loomset.tests");
  EXPECT_EQ(stringResult(evaluateDirectly(MOXAppName())), "LoomsetTests");
  EXPECT_EQ(stringResult(evaluateDirectly(MOXAppVersion())), "1.0");
  EXPECT_EQ(stringResult(evaluateDirectly(MOXDeviceName())), "x86_64");
  EXPECT_EQ(stringResult(evaluateDirectly(MOXOsVersion())), "6.1.0");
  EXPECT_EQ(stringResult(evaluateDirectly(MOXSdkVersion())), "6.1.0");
  EXPECT_EQ(stringResult(evaluateDirectly(MOXPlatform())), "iOS");
  EXPECT_EQ(stringResult(evaluateDirectly(MOXResolution())), "2048x1536");
  EXPECT_EQ(stringResult(evaluateDirectly(MOXLanguage())), "en-us");
  EXPECT_EQ(stringResult(evaluateDirectly(MOXWenVersionMacro())), "3.17");
  EXPECT_EQ(stringResult(evaluateDirectly(MOXContainerVersionMacro("v12"))), "v12");
  const ValuePtr rv = evaluateDirectly(MOXRuntimeVersion());
  EXPECT_EQ(rv->type(), MOXPValue::Integer);
  EXPECT_EQ(rv->integer(), 107577340);
  EXPECT_TRUE(log->lines().empty());
}

TEST(PlatformMacros, MissingFactsFallBackOrAnswerTheDefaultValue) {
  ScopedRecordingLogger log;
  {
    ScopedPlatform platform([](Platform& p) { p.application.name = ""; });
    EXPECT_EQ(stringResult(evaluateDirectly(MOXAppName())), "org.loomset.tests");
  }
  EXPECT_TRUE(log->lines().empty());
  {
    ScopedPlatform platform([](Platform& p) {
      p.application.name = "";
      p.application.identifier = "";
      p.application.shortVersion = "";
      p.device.model = "";
      p.device.preferredLanguages.clear();
    });
    EXPECT_EQ(evaluateDirectly(MOXAppName()), MOXTypes::defaultValue());
    EXPECT_TRUE(log->contains("Application name cannot be retrieved."));
    // An unknown platform text converts as a missing one, with the conversion's line.
    log->clear();
    EXPECT_EQ(evaluateDirectly(MOXAppId()), MOXTypes::defaultValue());
    EXPECT_EQ(evaluateDirectly(MOXAppVersion()), MOXTypes::defaultValue());
    EXPECT_EQ(evaluateDirectly(MOXDeviceName()), MOXTypes::defaultValue());
    EXPECT_EQ(log->count("Converting to Value from unknown object type"), 3);
    // No preferred language is a silent failure.
    log->clear();
    EXPECT_EQ(evaluateDirectly(MOXLanguage()), MOXTypes::defaultValue());
    EXPECT_TRUE(log->lines().empty());
  }
}

TEST(PlatformMacros, ResolutionIsPixelsRoundedUp) {
  EXPECT_EQ(MOXResolution::resolutionText(375, 667, 2), "750x1334");
  EXPECT_EQ(MOXResolution::resolutionText(320.25, 0.1, 1), "321x1");
  EXPECT_EQ(MOXResolution::resolutionText(0, 0, 1), "0x0");
  EXPECT_EQ(MOXResolution::resolutionText(414, 896, 0), "0x0");
  EXPECT_EQ(MOXResolution::resolutionText(NAN, 1e12, 1), "0x2147483647");
  EXPECT_EQ(MOXResolution::resolutionText(-HUGE_VAL, 10, 1.5), "-2147483648x15");
}

TEST(PlatformMacros, LanguageIsTheFirstPreferredOneLowerCased) {
  EXPECT_EQ(MOXLanguage::firstLanguage({"pt-BR", "en"}), "pt-br");
  EXPECT_EQ(MOXLanguage::firstLanguage({"zh-Hant-TW"}), "zh-hant-tw");
  EXPECT_EQ(MOXLanguage::firstLanguage({}), std::nullopt);
  EXPECT_EQ(MOXLanguage::firstLanguage({"", "en"}), std::nullopt);
}

TEST(PlatformMacros, TimeIsTruncatedMillisecondsOfThePlatformClock) {
  ScopedPlatform platform;
  platform.clock().setNowMillis(1700000000123.9);
  ValuePtr t = evaluateDirectly(MOXTime());
  EXPECT_EQ(t->type(), MOXPValue::Integer);
  EXPECT_EQ(t->integer(), 1700000000123);
  platform.clock().advance(1000.0);
  EXPECT_EQ(evaluateDirectly(MOXTime())->integer(), 1700000001123);
}

// The access comes with the platform bundle in force.
class AdvertisingIdTest : public ::testing::Test {
 protected:
  void provide(std::shared_ptr<const PLUAdvertisingIdAccess> access) {
    platform_.emplace([access](Platform& p) { p.advertisingId = access; });
  }
  void provide(std::optional<std::string> id, bool tracking) {
    auto access = std::make_shared<PLUAdvertisingIdAccess>();
    access->retrieveId = [id] { return id; };
    access->retrieveTrackingFlag = [tracking] { return tracking; };
    provide(access);
  }
  ScopedRecordingLogger log;
  std::optional<ScopedPlatform> platform_;
};

TEST_F(AdvertisingIdTest, WithoutAProviderIdsAreDefaultAndTrackingIsOff) {
  provide(nullptr);
  EXPECT_EQ(evaluateDirectly(MOXAdvertiserId()), MOXTypes::defaultValue());
  EXPECT_EQ(evaluateDirectly(MOXAdvertiserIdFixed()), MOXTypes::defaultValue());
  EXPECT_EQ(evaluateDirectly(MOXMobileCliquetUniqueIdMacro()), MOXTypes::defaultValue());
  const ValuePtr ate = evaluateDirectly(MOXAdvertisingTrackingEnabledMacro());
  EXPECT_EQ(ate->type(), MOXPValue::Boolean);
  EXPECT_FALSE(ate->boolean());
  // An incomplete registration counts as none.
  auto partial = std::make_shared<PLUAdvertisingIdAccess>();
  partial->retrieveId = [] { return std::optional<std::string>("ID"); };
  provide(partial);
  EXPECT_EQ(evaluateDirectly(MOXAdvertiserId()), MOXTypes::defaultValue());
  EXPECT_TRUE(log->lines().empty());
}

TEST_F(AdvertisingIdTest, ARegisteredProviderAnswersAllFourMacros) {
  provide("6D92078A-8246-4BA4-AE5B-76104861E7DC", true);
  EXPECT_EQ(MOXAdvertiserIdFixed::functionId(), "_aid");
  for (const ValuePtr& id :
       {evaluateDirectly(MOXAdvertiserId()), evaluateDirectly(MOXAdvertiserIdFixed()),
        evaluateDirectly(MOXMobileCliquetUniqueIdMacro())}) {
    EXPECT_EQ(stringResult(id), "6D92078A-8246-4BA4-AE5B-76104861E7DC");
  }
  EXPECT_TRUE(evaluateDirectly(MOXAdvertisingTrackingEnabledMacro())->boolean());

  provide("", false);
  EXPECT_EQ(evaluateDirectly(MOXAdvertiserId()), MOXTypes::defaultValue());
  EXPECT_FALSE(evaluateDirectly(MOXAdvertisingTrackingEnabledMacro())->boolean());
  provide(std::nullopt, true);
  EXPECT_EQ(evaluateDirectly(MOXMobileCliquetUniqueIdMacro()), MOXTypes::defaultValue());
  EXPECT_TRUE(log->lines().empty());
}

TEST(ClickReferrerMacro, AnswersRecordedReferrersAndTheirComponents) {
  ScopedPlatform platform;
  MOXClickReferrerUtil::clearCache();
  MOXClickReferrerUtil::addClickReferrer("conv=123&gclid=abc%20d");
  platform.runUntilIdle();
  EXPECT_EQ(stringResult(
                evaluateDirectly(MOXCliquetClickReferrer(), {{"conversion_id", strValue("123")}})),
            "conv=123&gclid=abc%20d");
  EXPECT_EQ(
      stringResult(evaluateDirectly(MOXCliquetClickReferrer(), {{"conversion_id", intValue(123)},
                                                                {"component", strValue("gclid")}})),
      "abc d");
  // Survives a cleared cache through the file.
  MOXClickReferrerUtil::clearCache();
  EXPECT_EQ(
      stringResult(evaluateDirectly(MOXCliquetClickReferrer(), {{"conversion_id", strValue("123")},
                                                                {"component", strValue("conv")}})),
      "123");

  ScopedRecordingLogger log;
  EXPECT_EQ(evaluateDirectly(MOXCliquetClickReferrer(), {{"conversion_id", strValue("999")}}),
            MOXTypes::defaultValue());
  EXPECT_EQ(evaluateDirectly(MOXCliquetClickReferrer(),
                             {{"conversion_id", strValue("123")}, {"component", strValue("nope")}}),
            MOXTypes::defaultValue());
  EXPECT_EQ(log->messages(kMOXLogLevelError).size(), 0u);
  MOXClickReferrerUtil::clearCache();
}

}  // namespace
}  // namespace loomset
