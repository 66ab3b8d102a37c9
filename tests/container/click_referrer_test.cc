#include <gtest/gtest.h>

#include <map>
#include <string>

#include "container/MOXCliquetClickReferrerListener.h"
#include "foundation/MOXPropertyListUtil.h"
#include "loomset/Objects.h"
#include "runtime/macros/MOXClickReferrerUtil.h"
#include "support/RecordingLogger.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

using namespace obj;
using Components = std::map<std::string, std::string>;

class ClickReferrerTest : public ::testing::Test {
 protected:
  ClickReferrerTest() { MOXClickReferrerUtil::clearCache(); }
  ~ClickReferrerTest() override { MOXClickReferrerUtil::clearCache(); }

  void push(const std::shared_ptr<Dictionary>& update) {
    listener_.changed(update);
    platform_.runUntilIdle();  // lets the background file write happen
  }

  testing::ScopedPlatform platform_;
  testing::ScopedRecordingLogger log_;
  MOXCliquetClickReferrerListener listener_;
};

TEST_F(ClickReferrerTest, QueryComponentsAreDecodedAndBadPiecesSkipped) {
  EXPECT_EQ(MOXClickReferrerUtil::parseComponentsFromQueryParameters(
                std::string("a=1&b=%20x%26&c=1=2&d&e=%ZZ&=empty&a=3&f=")),
            (Components{{"a", "3"}, {"b", " x&"}, {"", "empty"}, {"f", ""}}));
  EXPECT_EQ(log_->messages(kMOXLogLevelWarning),
            (std::vector<std::string>{"Invalid component: c=1=2", "Invalid component: d",
                                      "Invalid component: e=%ZZ"}));
  EXPECT_TRUE(MOXClickReferrerUtil::parseComponentsFromQueryParameters(std::nullopt).empty());

  EXPECT_EQ(MOXClickReferrerUtil::extractComponent("gclid", std::nullopt), std::nullopt);
  EXPECT_EQ(MOXClickReferrerUtil::extractComponent(std::nullopt, std::string("")), std::nullopt);
  EXPECT_EQ(MOXClickReferrerUtil::extractComponent(std::nullopt, std::string("conv=1")), "conv=1");
  EXPECT_EQ(MOXClickReferrerUtil::extractComponent("gclid", std::string("conv=1&gclid=g")), "g");
  EXPECT_EQ(MOXClickReferrerUtil::extractComponent("other", std::string("conv=1")), std::nullopt);
}

TEST_F(ClickReferrerTest, ListenerRecordsReferrersFromPushedUrls) {
  push(dict({{"wen.url", str("myapp://open?referrer=conv%3D111%26gclid%3Dabc#frag")}}));
  push(dict({{"wen", dict({{"url", str("https://x.test/p?a=b&referrer=conv%3D222")}})}}));
  EXPECT_EQ(MOXClickReferrerUtil::clickReferrerForConversionId("111", std::nullopt),
            "conv=111&gclid=abc");
  EXPECT_EQ(MOXClickReferrerUtil::clickReferrerForConversionId("111", std::string("gclid")), "abc");
  EXPECT_EQ(MOXClickReferrerUtil::clickReferrerForConversionId("222", std::nullopt), "conv=222");

  // Later referrers for the same id replace earlier ones.
  push(dict({{"wen.url", str("app://?referrer=conv%3D111%26gclid%3Dnew")}}));
  EXPECT_EQ(MOXClickReferrerUtil::clickReferrerForConversionId("111", std::string("gclid")), "new");
}

TEST_F(ClickReferrerTest, UpdatesWithoutAUsableReferrerRecordNothing) {
  push(dict({{"wen", array({str("app://?referrer=conv%3D1")})}}));
  push(dict({{"wen", dict({{"url", i64(5)}})}}));
  push(dict({{"wen.url", i64(5)}}));
  push(dict({{"wen.url", str("app://no-query")}}));
  push(dict({{"wen.url", str("app://?referrer=gclid%3Dabc")}}));  // no conversion id
  push(dict({{"wen.url", str("app://?referrer=conv%3D")}}));      // empty conversion id
  push(dict({{"event", str("open")}}));
  EXPECT_FALSE(platform_.platform() == nullptr);
  log_->clear();
  EXPECT_EQ(MOXPropertyListUtil::readPropertyList("ClickReferrer"), nullptr);
}

TEST_F(ClickReferrerTest, UnknownIdsAnswerNothing) {
  EXPECT_EQ(MOXClickReferrerUtil::clickReferrerForConversionId("404", std::nullopt), std::nullopt);
  log_->clear();
  EXPECT_EQ(MOXClickReferrerUtil::clickReferrerForConversionId("404", std::string("gclid")),
            std::nullopt);
  // The empty referrer parses as one empty piece.
  EXPECT_EQ(log_->messages(kMOXLogLevelWarning), std::vector<std::string>{"Invalid component: "});
}

TEST_F(ClickReferrerTest, ReferrersSurviveACacheClearThroughTheFile) {
  push(dict({{"wen.url", str("app://?referrer=conv%3D777%26gclid%3Dkept")}}));
  push(dict({{"wen.url", str("app://?referrer=conv%3D778")}}));
  ObjectPtr file = MOXPropertyListUtil::readPropertyList("ClickReferrer");
  ASSERT_NE(asDictionary(file), nullptr);
  EXPECT_EQ(asDictionary(file)->count(), 2u);

  MOXClickReferrerUtil::clearCache();
  EXPECT_EQ(MOXClickReferrerUtil::clickReferrerForConversionId("777", std::string("gclid")),
            "kept");

  // A new referrer after a clear merges with what the file held instead of replacing it.
  MOXClickReferrerUtil::clearCache();
  push(dict({{"wen.url", str("app://?referrer=conv%3D779")}}));
  MOXClickReferrerUtil::clearCache();
  EXPECT_EQ(MOXClickReferrerUtil::clickReferrerForConversionId("778", std::nullopt), "conv=778");
  EXPECT_EQ(MOXClickReferrerUtil::clickReferrerForConversionId("779", std::nullopt), "conv=779");
}

}  // namespace
}  // namespace loomset
