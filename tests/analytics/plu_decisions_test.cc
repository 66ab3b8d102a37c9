// The analytics half's pure decisions: rate limiting, sampling and its hash, reachability status,
// usage letters, counters and the device-derived fields.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "analytics/PLUUsageTracker.h"
#include "analytics/dispatch/PLUReachabilityChecker.h"
#include "analytics/model/PLUModelEnvironment.h"
#include "analytics/model/PLUSampling.h"
#include "analytics/model/PLUTokenBucket.h"
#include "analytics/model/PLUTrackerModel.h"
#include "loomset/MOXLog.h"
#include "loomset/PLULogger.h"

namespace loomset {
namespace {

// The hash written out independently, over the first UTF-16 unit of each character, in the order
// the characters are walked (last to first).
std::uint32_t referenceHash(const std::vector<std::uint16_t>& unitsLastToFirst) {
  if (unitsLastToFirst.empty()) return 1;
  std::uint32_t h = 0;
  for (std::uint32_t c : unitsLastToFirst) {
    h = ((h << 6) & 0x0FFFFFFFu) + c + (c << 14);
    const std::uint32_t g = h & 0x0FE00000u;
    if (g) h ^= g >> 21;
  }
  return h;
}

std::uint32_t referenceAsciiHash(const std::string& text) {
  std::vector<std::uint16_t> units(text.rbegin(), text.rend());
  return referenceHash(units);
}

TEST(PLUTokenBucket, SixtyCreditsThenOneEveryTwoSeconds) {
  PLUTokenBucket bucket;
  const double t0 = 700000000.0;
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(plu_takeTrackingCredit(bucket, t0)) << i;
  EXPECT_FALSE(plu_takeTrackingCredit(bucket, t0));        // the 61st in the same instant
  EXPECT_FALSE(plu_takeTrackingCredit(bucket, t0 + 1.0));  // half a credit is not enough
  EXPECT_TRUE(plu_takeTrackingCredit(bucket, t0 + 2.0));   // a second half arrives
  EXPECT_FALSE(plu_takeTrackingCredit(bucket, t0 + 2.0));
  EXPECT_TRUE(plu_takeTrackingCredit(bucket, t0 + 4.0));
}

TEST(PLUTokenBucket, RefillRules) {
  struct Case {
    const char* name;
    PLUTokenBucket before;
    double now;
    bool passes;
    double creditsAfter;
  };
  const Case cases[] = {
      {"never tracked: no refill from time zero", {0.5, 0}, 1000, false, 0.5},
      {"time going back refills nothing", {0.5, 1000}, 900, false, 0.5},
      {"a long pause fills only to capacity", {0, 1000}, 100000, true, 59},
      {"a full bucket is not refilled past 60", {60, 1000}, 1010, true, 59},
      {"refill by half the elapsed seconds", {0, 1000}, 1007, true, 2.5},
  };
  for (const auto& c : cases) {
    PLUTokenBucket bucket = c.before;
    EXPECT_EQ(plu_takeTrackingCredit(bucket, c.now), c.passes) << c.name;
    EXPECT_DOUBLE_EQ(bucket.trackingCredits, c.creditsAfter) << c.name;
    EXPECT_EQ(bucket.lastTrackTime, c.now) << c.name;
  }
}

TEST(PLUSampling, HashWalksCharactersFromLastToFirst) {
  EXPECT_EQ(PLUSampling::qzHash(""), 1u);
  EXPECT_EQ(PLUSampling::qzHash("a"), 1589345u);  // 97 + (97 << 14)
  for (const std::string text : {"ab", "35009a79-1a05-49d7-b876-2b884d0f825b", "hello world"}) {
    EXPECT_EQ(PLUSampling::qzHash(text), referenceAsciiHash(text)) << text;
  }
  // A combining sequence counts once, with its base character.
  EXPECT_EQ(PLUSampling::qzHash("xe\xCC\x81"), referenceHash({'e', 'x'}));
  // A character outside the basic plane contributes its high surrogate.
  EXPECT_EQ(PLUSampling::qzHash("a\xF0\x9F\x98\x80"), referenceHash({0xD83D, 'a'}));
  EXPECT_EQ(PLUSampling::qzHash("\xC3\xA9"), referenceHash({0x00E9}));
  // CR LF is one character.
  EXPECT_EQ(PLUSampling::qzHash("x\r\n"), referenceHash({'\r', 'x'}));
}

TEST(PLUSampling, SampleRateMustBeOneWholeNumber) {
  EXPECT_EQ(PLUSampling::parseSampleRate("50"), 50.0);
  EXPECT_EQ(PLUSampling::parseSampleRate(" 12.5\n"), 12.5);
  EXPECT_EQ(PLUSampling::parseSampleRate("+.5"), 0.5);
  EXPECT_EQ(PLUSampling::parseSampleRate("1e1"), 10.0);
  for (const char* bad : {"abc", "", " ", "50abc", "5 0", "inf", "nan", "0x10", "1e", "."}) {
    EXPECT_FALSE(PLUSampling::parseSampleRate(bad).has_value()) << bad;
  }
}

TEST(PLUSampling, KeepsClientsBelowTheRate) {
  int kept = 0, dropped = 0;
  for (int i = 0; i < 300; ++i) {
    const std::string cid = "client-" + std::to_string(i);
    PLUHitMap hit{{"&sf", "50"}, {"&cid", cid}};
    const bool expectDrop = referenceAsciiHash(cid) % 10000 >= 5000;
    EXPECT_EQ(PLUSampling::shouldSampleOut(hit), expectDrop) << cid;
    (expectDrop ? dropped : kept)++;
    hit["&sf"] = "100";
    EXPECT_FALSE(PLUSampling::shouldSampleOut(hit));
    hit["&sf"] = "0";
    EXPECT_TRUE(PLUSampling::shouldSampleOut(hit));
    hit["&sf"] = "abc";
    EXPECT_FALSE(PLUSampling::shouldSampleOut(hit));
  }
  EXPECT_GT(kept, 0);
  EXPECT_GT(dropped, 0);
  EXPECT_FALSE(PLUSampling::shouldSampleOut({{"&cid", "x"}}));
  EXPECT_FALSE(PLUSampling::shouldSampleOut({{"&sf", kPLUNullMarker}, {"&cid", "x"}}));
}

TEST(PLUReachability, StatusForFlags) {
  const std::pair<std::uint32_t, std::int32_t> cases[] = {
      {0x2, 2}, {0x40002, 3}, {0x6, 1},     {0x0E, 2},    {0x1E, 1},
      {0x0, 1}, {0x26, 2},    {0x40000, 1}, {0x4000E, 3},
  };
  for (const auto& [flags, status] : cases) {
    EXPECT_EQ(PLUReachabilityChecker::statusForFlags(flags), status) << std::hex << flags;
  }
  EXPECT_EQ(PLUReachabilityStatusString(0), "Reachability Unknown");
  EXPECT_EQ(PLUReachabilityStatusString(1), "Not reachable");
  EXPECT_EQ(PLUReachabilityStatusString(2), "Reachable via Wifi");
  EXPECT_EQ(PLUReachabilityStatusString(3), "Reachable via Cellular Data");
  EXPECT_EQ(PLUReachabilityStatusString(7), "Invalid reachability status 7");
}

TEST(PLUUsageTracker, LettersAndSequence) {
  EXPECT_EQ(PLUUsageTracker::letterForSelector("set:forKey:"), 'A');
  EXPECT_EQ(PLUUsageTracker::letterForSelector("dictionaryGet:"), 'C');
  EXPECT_EQ(PLUUsageTracker::letterForSelector("createAppView"), '-');
  EXPECT_EQ(PLUUsageTracker::letterForSelector("removeTrackerByName:"), '7');
  EXPECT_EQ(PLUUsageTracker::letterForSelector("dispatchWithCompletionHandler:"), '\0');
  EXPECT_EQ(PLUUsageTracker::letterForSelector("build"), '\0');

  PLUUsageTracker::getUsageSequence();
  EXPECT_EQ(PLUUsageTracker::getUsageSequence(), "");
  PLUUsageTracker::trackAction("trackerWithName:trackingId:");
  PLUUsageTracker::trackAction("clientId");
  PLUUsageTracker::trackTarget(nullptr, "send:");
  EXPECT_EQ(PLUUsageTracker::getUsageSequence(), ".nL");
  EXPECT_EQ(PLUUsageTracker::getUsageSequence(), "");
}

TEST(PLUTrackerModel, CountersAndDeviceFields) {
  EXPECT_EQ(PLUTrackerModel::nextPennonId(1), 2u);
  EXPECT_EQ(PLUTrackerModel::nextPennonId(2147483646u), 2147483647u);
  EXPECT_EQ(PLUTrackerModel::nextPennonId(2147483647u), 1u);  // past the signed range

  EXPECT_EQ(PLUModelEnvironment::languageFrom({}), "en");
  EXPECT_EQ(PLUModelEnvironment::languageFrom({"de-AT", "en"}), "de-at");
  EXPECT_EQ(PLUModelEnvironment::screenResolutionFrom(1024, 768, 2), "2048x1536");
  EXPECT_EQ(PLUModelEnvironment::screenResolutionFrom(320.5, 480, 1), "320x480");
  EXPECT_EQ(PLUModelEnvironment::screenResolutionFrom(0, 0, 0), "0x0");

  // MD5("idfa:cid").
  EXPECT_EQ(PLUTrackerModel::hashIdfa("idfa", "cid"), "40657f6d2052e37d1461a30b58f4f6f2");
}

TEST(PLULoggerImpl, LevelMapping) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {kMOXLogLevelVerbose, kPLULogLevelVerbose},
      {kMOXLogLevelDebug, kPLULogLevelVerbose},
      {kMOXLogLevelInfo, kPLULogLevelInfo},
      {kMOXLogLevelWarning, kPLULogLevelWarning},
      {kMOXLogLevelError, kPLULogLevelError},
      {kMOXLogLevelNone, kPLULogLevelNone},
      {17, kPLULogLevelNone},
  };
  for (const auto& [mox, plu] : cases) {
    EXPECT_EQ(PLULoggerImpl::qzLogLevelFromWenLogLevel(mox), plu) << mox;
  }
}

}  // namespace
}  // namespace loomset
