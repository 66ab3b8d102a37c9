// How `loomset track` reads the fields of its "set" and "send" steps.
#include <gtest/gtest.h>

#include "tools/loomset/TrackHits.h"

namespace loomset::tools {
namespace {

TEST(TrackHits, RelativeHitTimesCountBackFromNow) {
  EXPECT_EQ(relativeHitTime("$now", 1000.5), "1000.500");
  EXPECT_EQ(relativeHitTime("$now-60s", 1000), "940.000");
  EXPECT_EQ(relativeHitTime("$now-1.25s", 1000), "998.750");
  EXPECT_EQ(relativeHitTime("$now-3456000s", 1700000000), "1696544000.000");
  for (const char* text : {"now", "$now-", "$now-s", "$now-60", "$now+60s", "$now-6x0s", "$now--1s",
                           "$now-.5s", "$nowish", "$now-60m"}) {
    EXPECT_FALSE(relativeHitTime(text, 1000)) << text;
  }
}

TEST(TrackHits, FieldsKeepTextsMarkNullsAndWriteNumbers) {
  std::string error;
  const auto fields = hitFieldsFromJson(
      Json::parse(R"({"&t": "event", "&el": null, "&ev": 3, "&tr": 9.99, "&cd": ""})"), true, 1000,
      error);
  ASSERT_TRUE(fields) << error;
  const PLUHitMap expected{
      {"&t", "event"}, {"&el", kPLUNullMarker}, {"&ev", "3"}, {"&tr", "9.99"}, {"&cd", ""}};
  EXPECT_EQ(*fields, expected);
}

TEST(TrackHits, OnlyASendResolvesTheTimestamp) {
  std::string error;
  const Json step = Json::parse(R"({"timestamp": "$now-10s", "&t": "$now"})");
  const auto sent = hitFieldsFromJson(step, true, 500, error);
  ASSERT_TRUE(sent) << error;
  EXPECT_EQ(sent->at("timestamp"), "490.000");
  EXPECT_EQ(sent->at("&t"), "$now");  // only the "timestamp" key is a time
  const auto set = hitFieldsFromJson(step, false, 500, error);
  ASSERT_TRUE(set) << error;
  EXPECT_EQ(set->at("timestamp"), "$now-10s");

  // A time that is not "$now..." passes as it is, for the dispatcher to judge.
  EXPECT_EQ(hitFieldsFromJson(Json::parse(R"({"timestamp": "123.5"})"), true, 500, error)
                ->at("timestamp"),
            "123.5");
}

TEST(TrackHits, RefusesWhatIsNoHitField) {
  std::string error;
  EXPECT_FALSE(hitFieldsFromJson(Json::parse(R"({"&ni": true})"), true, 0, error));
  EXPECT_NE(error.find("\"&ni\" must be a string, a number or null, not a boolean"),
            std::string::npos)
      << error;
  EXPECT_FALSE(hitFieldsFromJson(Json::parse(R"({"&pr": {"id": 1}})"), true, 0, error));
  EXPECT_FALSE(hitFieldsFromJson(Json::parse(R"(["&t"])"), true, 0, error));
  EXPECT_NE(error.find("must be an object"), std::string::npos) << error;
  EXPECT_FALSE(hitFieldsFromJson(Json::parse(R"({"timestamp": "$now-ten"})"), true, 0, error));
  EXPECT_NE(error.find("\"$now-Ns\""), std::string::npos) << error;
}

}  // namespace
}  // namespace loomset::tools
