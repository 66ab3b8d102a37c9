// The pixel tag: the URL it stores (with "additional_params" appended and escaped), and ids marked
// "unrepeatable" sent once, also across restarts.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/MOXPropertyListUtil.h"
#include "loomset/Collections.h"
#include "loomset/Objects.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"
#include "support/ScopedPlatform.h"
#include "tags/MOXArbitraryPixel.h"
#include "tags/MOXDispatcher.h"

namespace loomset {
namespace {

using namespace testing;

// A network that records the URLs and answers 200.
class RecordingNetwork : public MOXPixelNetwork {
 public:
  explicit RecordingNetwork(std::shared_ptr<EventLoop> worker) : worker_(std::move(worker)) {}
  bool isReachable() const override { return true; }
  void sendURL(const std::string& url, Completion completion) override {
    urls.push_back(url);
    worker_->post([completion] { completion({200, false}); });
  }
  std::vector<std::string> urls;

 private:
  std::shared_ptr<EventLoop> worker_;
};

class ArbitraryPixelTest : public ::testing::Test {
 protected:
  ArbitraryPixelTest() { restart(); }
  ~ArbitraryPixelTest() override {
    MOXDispatcher::clearInstance();
    MOXArbitraryPixel::clearCache();
    platform_.runUntilIdle();
  }

  // A new process as far as the tag can tell: a fresh shared dispatcher and no ids in memory.
  void restart() {
    platform_.runUntilIdle();  // background property-list writes land
    MOXDispatcher::clearInstance();
    MOXArbitraryPixel::clearCache();
    network_ = std::make_shared<RecordingNetwork>(platform_.platform()->mainLoop);
    MOXPixelNetwork::setDefaultFactory([network = network_] { return network; });
  }
  void fire(std::vector<std::pair<std::string, ValuePtr>> arguments) {
    MOXParameterMap map;
    map.append("function", fnValue("_img"));
    for (auto& [key, value] : arguments) map.append(key, value);
    tag_.evaluate(map);
  }
  std::vector<std::string> dispatchAll() {
    auto dispatcher = MOXDispatcher::instance();
    platform_.runUntilIdle();
    dispatcher->dispatch();
    platform_.runUntilIdle();
    return network_->urls;
  }

  ScopedPlatform platform_{[](Platform& p) { p.containerWorker = p.mainLoop; }};
  std::shared_ptr<RecordingNetwork> network_;
  MOXArbitraryPixel tag_;
};

TEST_F(ArbitraryPixelTest, AppendsAdditionalParamsInOrderAndEscaped) {
  fire({{"url", strValue("http://px.example/a")},
        {"additional_params",
         listValue({mapValue({{strValue("q"), strValue("a b&c")}, {strValue("n"), intValue(2)}}),
                    mapValue({{strValue("é"), strValue("=")}})})}});
  fire({{"url", strValue("http://px.example/b?x=1")},
        {"additional_params", listValue({mapValue({{strValue("y"), strValue("2")}})})}});
  fire({{"url", strValue("http://px.example/c")}, {"additional_params", listValue({})}});
  EXPECT_EQ(dispatchAll(),
            (std::vector<std::string>{"http://px.example/a?q=a%20b%26c&n=2&%C3%A9=%3D",
                                      "http://px.example/b?x=1&y=2", "http://px.example/c?"}));
}

TEST_F(ArbitraryPixelTest, MalformedAdditionalParamsSendNothing) {
  ScopedRecordingLogger log;
  fire({{"url", strValue("http://px.example/a")},
        {"additional_params", mapValue({{strValue("q"), strValue("1")}})}});
  fire({{"url", strValue("http://px.example/b")},
        {"additional_params", listValue({mapValue({}), strValue("x")})}});
  EXPECT_TRUE(dispatchAll().empty());
  EXPECT_TRUE(
      log->contains("ArbitraryPixel: additional params not a list: not sending partial hit: "
                    "http://px.example/a"));
  EXPECT_TRUE(
      log->contains("ArbitraryPixel: additional params contains non-map: not sending partial hit: "
                    "http://px.example/b"));
}

// The file keeps every id: one seen in an earlier run is not lost when a new one is written.
TEST_F(ArbitraryPixelTest, UnrepeatablePixelsAreSentOnceAcrossRestarts) {
  fire({{"url", strValue("http://px.example/1")}, {"unrepeatable", strValue("one")}});
  fire({{"url", strValue("http://px.example/1")}, {"unrepeatable", strValue("one")}});
  EXPECT_EQ(dispatchAll(), std::vector<std::string>{"http://px.example/1"});

  restart();
  fire({{"url", strValue("http://px.example/2")}, {"unrepeatable", strValue("two")}});
  restart();
  fire({{"url", strValue("http://px.example/1")}, {"unrepeatable", strValue("one")}});
  fire({{"url", strValue("http://px.example/2")}, {"unrepeatable", strValue("two")}});
  fire({{"url", strValue("http://px.example/3")}, {"unrepeatable", strValue("three")}});
  // "two" went out once: stored in the second run, sent in the third.
  EXPECT_EQ(dispatchAll(),
            (std::vector<std::string>{"http://px.example/2", "http://px.example/3"}));

  platform_.runUntilIdle();
  const ObjectPtr saved = MOXPropertyListUtil::readPropertyList("wen_img_unrepeatable");
  ASSERT_TRUE(asDictionary(saved));
  EXPECT_EQ(asDictionary(saved)->count(), 3u);
  EXPECT_EQ(describe(asDictionary(saved)->objectForKey("two")), "true");
}

}  // namespace
}  // namespace loomset
