// What goes on the wire for stored hits, and how many hits one request takes: percent-encoding,
// the hit's wire text, request bodies and headers, and the batching strategies as tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analytics/dispatch/PLUBatching.h"
#include "analytics/dispatch/PLUHitRequest.h"
#include "analytics/dispatch/PLUPayload.h"
#include "loomset/PLUFields.h"
#include "support/PLUCollector.h"

namespace loomset {
namespace {

using testing::PLUCollector;

constexpr double kNow = 1700000000.0;

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const auto end = text.find(separator, start);
    pieces.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return pieces;
    start = end + 1;
  }
}

TEST(PLUPayload, PercentEncodingKeepsOnlyUnreservedCharacters) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"AZaz09-_.~'", "AZaz09-_.~'"},
      {"a b", "a+b"},
      {":/?#[]@", "%3A%2F%3F%23%5B%5D%40"},
      {"!$&()*+,;=%", "%21%24%26%28%29%2A%2B%2C%3B%3D%25"},
      {"\"<>\\^`{|}", "%22%3C%3E%5C%5E%60%7B%7C%7D"},
      {"\xC3\xA9\xE2\x82\xAC", "%C3%A9%E2%82%AC"},  // UTF-8 bytes, upper-case hex
      {"line\nfeed\t", "line%0Afeed%09"},
  };
  for (const Case& c : cases) EXPECT_EQ(plu_percentEncode(c.in), c.out) << c.in;
  EXPECT_EQ(plu_percentEncode(std::string("a\0b", 3)), "a%00b");
  EXPECT_EQ(PLUCollector::urlDecode(plu_percentEncode("any text: ü & = + %")),
            "any text: ü & = + %");
}

TEST(PLUPayload, ParameterNamesLoseTheirAmpersandAndEmptyValuesTheirEquals) {
  EXPECT_EQ(plu_encodeParameter("&cd", "Home Screen"), "cd=Home+Screen");
  EXPECT_EQ(plu_encodeParameter("&ni", ""), "ni");
  EXPECT_EQ(plu_encodeParameter("&cd1", "a=b&c"), "cd1=a%3Db%26c");
  EXPECT_EQ(plu_encodeParameter("&&x y", "1"), "%26x+y=1");
}

TEST(PLUPayload, WireTextSendsOnlyWireKeysAndEndsWithHitTimeQueueTimeAndCacheBuster) {
  PLUStoredHit hit;
  hit.timestamp = kNow - 2.5;
  hit.parameters = {
      {"&t", "event"},        {"&tid", "UA-1"},   {"&z", "987"},         {"&sr", kPLUNullMarker},
      {"pluVersion", "3.17"}, {"useSecure", "0"}, {"&ea", "play video"}, {"&ni", ""}};
  const std::string text = plu_parametersForHit(hit, kNow);
  const auto pieces = split(text, '&');
  ASSERT_GE(pieces.size(), 3u);
  EXPECT_EQ(pieces[pieces.size() - 3], "ht=1699999997500");
  EXPECT_EQ(pieces[pieces.size() - 2], "qt=2500");
  EXPECT_EQ(pieces.back(), "z=987");
  EXPECT_EQ(text.find("pluVersion"), std::string::npos);
  EXPECT_EQ(text.find("useSecure"), std::string::npos);
  EXPECT_EQ(text.find("sr"), std::string::npos) << "the null marker is never sent";
  const auto decoded = PLUCollector::decodeHit(text);
  EXPECT_EQ(decoded.at("ea"), "play video");
  EXPECT_EQ(decoded.at("ni"), "");
  EXPECT_EQ(decoded.size(), 7u);  // t, tid, ea, ni, ht, qt, z

  // A hit sent the moment it was made (or dated in the future) has no queue time; a masked
  // cache buster is left off.
  hit.timestamp = kNow;
  hit.parameters["&z"] = kPLUNullMarker;
  EXPECT_EQ(split(plu_parametersForHit(hit, kNow), '&').back(), "ht=1700000000000");
  hit.timestamp = kNow + 60;
  EXPECT_EQ(plu_parametersForHit(hit, kNow).find("qt="), std::string::npos);
  // A hit without a time counts as made now.
  hit.timestamp.reset();
  EXPECT_EQ(split(plu_parametersForHit(hit, kNow), '&').back(), "ht=1700000000000");
}

TEST(PLUPayload, BodiesJoinHitsWithLineFeedsAndLeaveOutEmptyAndOversizeHits) {
  EXPECT_EQ(plu_buildPayload({"a=1", "b=2", "c=3"}, 8192), "a=1\nb=2\nc=3");
  EXPECT_EQ(plu_buildPayload({"", "a=1", std::string(20, 'x'), "b=2"}, 10), "a=1\nb=2");
  EXPECT_EQ(plu_buildPayload({std::string(20, 'x')}, 0), std::string(20, 'x'));
  EXPECT_EQ(plu_buildPayload({std::string(20, 'x')}, 10), "");
}

TEST(PLUPayload, HitTimesRoundTripAndGarbageIsRejected) {
  EXPECT_EQ(plu_parseHitTime(plu_formatHitTime(1699999997.5)), 1699999997.5);
  EXPECT_EQ(plu_parseHitTime("1700000000"), 1700000000.0);
  for (const char* bad : {"", "yesterday", "12abc", "nan", "inf", "1e999"}) {
    EXPECT_FALSE(plu_parseHitTime(bad)) << bad;
  }
  EXPECT_EQ(plu_wholeMillis(1700000000.123), 1700000000123);  // no floating-point shortfall
}

// A finite but absurd time is refused at the door (the dispatcher then logs it and uses now) and,
// should one come back from a stored row, clamped before it becomes milliseconds.
TEST(PLUPayload, ExtremeHitTimesAreRefusedOrClamped) {
  for (const char* huge : {"1.7e308", "-1.7e308", "1e13", "-1e13"}) {
    EXPECT_FALSE(plu_parseHitTime(huge)) << huge;
  }
  EXPECT_EQ(plu_parseHitTime("1e12"), 1e12);
  EXPECT_EQ(plu_wholeMillis(1.7e308), 1000000000000000);
  EXPECT_EQ(plu_wholeMillis(-1.7e308), -1000000000000000);

  PLUStoredHit hit;
  hit.parameters = {{"&t", "event"}};
  hit.timestamp = -1.7e308;
  auto pieces = split(plu_parametersForHit(hit, kNow), '&');
  EXPECT_EQ(pieces[pieces.size() - 2], "ht=0");
  EXPECT_EQ(pieces.back(), "qt=" + std::to_string(1000000000000000 + 1700000000000));
  hit.timestamp = 1.7e308;
  pieces = split(plu_parametersForHit(hit, kNow), '&');
  EXPECT_EQ(pieces.back(), "ht=1000000000000000");
}

TEST(PLURequestBuilder, RequestsCarryTheFormTypeUserAgentAndNoCaching) {
  DeviceInfo device;
  device.model = "x86_64";
  device.systemName = "Linux";
  device.systemVersion = "6.1.0";
  device.preferredLanguages = {"en-US", "en"};
  device.localeCountry = "US";
  const std::string agent = PLURequestBuilder::userAgentFor(device);
  EXPECT_EQ(agent, "Kestrel/3.17 (x86_64; U; CPU Linux 6.1.0 like Mac OS X; en-us-us)");
  const PLURequestBuilder builder(agent);

  const HttpRequest get = builder.requestGetUrl("https://c.example/collect", "v=1&t=event");
  EXPECT_EQ(get.method, "GET");
  EXPECT_EQ(get.url, "https://c.example/collect?v=1&t=event");
  EXPECT_TRUE(get.body.empty());
  EXPECT_EQ(get.bodyBytesKept, kHttpIgnoredBodyBytesKept);  // the collector's answer is not read
  auto header = [](const HttpRequest& request, const std::string& name) {
    for (const auto& [key, value] : request.headers) {
      if (key == name) return value;
    }
    return std::string("<absent>");
  };
  EXPECT_EQ(header(get, "Content-Type"), "application/x-www-form-urlencoded; charset=UTF-8");
  EXPECT_EQ(header(get, "User-Agent"), agent);
  EXPECT_EQ(header(get, "Cache-Control"), "no-cache");

  const std::string payload = "v=1&t=event\nv=1&t=screenview";
  const auto gzip = builder.requestPostUrl("https://c.example/batch", payload,
                                           PLURequestBuilder::kCompressionGzip);
  ASSERT_TRUE(gzip);
  EXPECT_EQ(gzip->method, "POST");
  EXPECT_EQ(gzip->url, "https://c.example/batch");
  EXPECT_EQ(header(*gzip, "Content-Encoding"), "gzip");
  EXPECT_EQ(header(*gzip, "Content-Length"), std::to_string(gzip->body.size()));
  EXPECT_EQ(PLUCollector::inflate(gzip->body), payload);

  const auto deflate = builder.requestPostUrl("u", payload, PLURequestBuilder::kCompressionDeflate);
  ASSERT_TRUE(deflate);
  EXPECT_EQ(header(*deflate, "Content-Encoding"), "deflate");
  EXPECT_EQ(PLUCollector::inflate(deflate->body), payload);

  const auto plain = builder.requestPostUrl("u", payload, PLURequestBuilder::kCompressionNone);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->body, payload);
  EXPECT_EQ(header(*plain, "Content-Encoding"), "<absent>");
  EXPECT_EQ(header(*plain, "Content-Length"), std::to_string(payload.size()));

  // Nothing to compress cannot become a request.
  EXPECT_FALSE(builder.requestPostUrl("u", "", PLURequestBuilder::kCompressionGzip));
}

std::vector<PLUBatchCandidate> candidates(const std::vector<std::size_t>& lengths,
                                          const std::vector<std::optional<double>>& times = {},
                                          const std::vector<PLUHitValue>& sessions = {}) {
  std::vector<PLUBatchCandidate> hits;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    PLUBatchCandidate c;
    c.encodedLength = lengths[i];
    c.timestamp = i < times.size() ? times[i] : std::optional<double>(kNow + i);
    if (i < sessions.size()) c.sessionControl = sessions[i];
    hits.push_back(c);
  }
  return hits;
}

TEST(PLUBatching, TimeGapCutsBeforeTheLargestGapAndTheLaterPairWinsTies) {
  struct Case {
    const char* name;
    std::vector<std::optional<double>> times;
    std::size_t maxHits;
    std::size_t expected;
  };
  const double t = kNow;
  const Case cases[] = {
      {"nothing", {}, 20, 0},
      {"one hit", {t}, 20, 1},
      {"no hits allowed", {t, t + 1}, 0, 0},
      {"equal times leave the last hit for the next batch", {t, t, t, t}, 20, 3},
      {"largest gap in the middle", {t, t + 1, t + 60, t + 61}, 20, 2},
      {"tie: the later pair wins", {t, t + 5, t + 6, t + 11}, 20, 3},
      {"only the first maxHits count", {t, t + 1, t + 2, t + 900}, 3, 2},
      {"gaps under a millisecond are equal", {t, t + 0.0004, t + 0.0008}, 20, 2},
      {"time going back is no gap", {t + 100, t, t + 1}, 20, 2},
      {"missing times are no gap", {t, std::nullopt, t + 100}, 20, 3},
      // Stored times may be any finite number: a gap too large for milliseconds is still the
      // largest, not an overflow.
      {"huge gaps", {-1.7e308, t, 1.7e308}, 20, 2},
      {"the largest finite gap", {0, 1, -1.7e308, 1.7e308}, 20, 3},
  };
  for (const Case& c : cases) {
    std::vector<std::size_t> lengths(c.times.size(), 100);
    EXPECT_EQ(plu_batchByTimeGap(candidates(lengths, c.times), c.maxHits), c.expected) << c.name;
  }
}

TEST(PLUBatching, SessionSplitEndsBatchesAtVisitBoundaries) {
  struct Case {
    const char* name;
    std::vector<PLUHitValue> sessions;
    std::size_t maxHits;
    std::size_t expected;
  };
  const PLUHitValue none;
  const Case cases[] = {
      {"no session control", {none, none, none, none}, 4, 4},
      {"a start ends the batch before it", {none, none, "start", none}, 4, 2},
      {"an end ends the batch with it", {none, "end", none, none}, 4, 2},
      {"the last boundary counts", {none, "start", none, "end"}, 4, 4},
      {"the first hit is never a boundary", {"start", none, none}, 3, 3},
      {"only the first maxHits are scanned", {none, none, none, "start"}, 3, 3},
      {"other values are no boundary", {none, "restart", none}, 3, 3},
  };
  for (const Case& c : cases) {
    std::vector<std::size_t> lengths(c.sessions.size(), 100);
    EXPECT_EQ(plu_batchBySessionSplit(candidates(lengths, {}, c.sessions), c.maxHits), c.expected)
        << c.name;
  }
}

TEST(PLUBatching, EachStrategyWhenTheBodyOverflows) {
  struct Case {
    const char* name;
    unsigned strategy;
    std::vector<std::size_t> lengths;
    std::uint32_t maxBody;
    std::size_t expected;
  };
  const Case cases[] = {
      {"everything fits", kPLUBatchingTimeGap, {100, 100, 100}, 8192, 3},
      {"no strategy: one hit per request", kPLUBatchingNone, {100, 100, 100}, 8192, 1},
      {"fill up to the limit", kPLUBatchingFill, {3000, 3000, 3000}, 8192, 2},
      // 8191 bytes of hits fit, but not with the two line feeds between them.
      {"line feeds count", kPLUBatchingFill, {2730, 2730, 2731}, 8192, 2},
      {"time gap among the fitting hits", kPLUBatchingTimeGap, {3000, 3000, 3000}, 8192, 1},
      {"half size: the largest index within half the total",
       kPLUBatchingHalfSize,
       {1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000},
       8192,
       3},
      {"half size stops at one", kPLUBatchingHalfSize, {6000, 3000}, 8192, 1},
      {"half size beyond twice the limit fills", kPLUBatchingHalfSize, {6000, 6000, 6000}, 8192, 1},
      {"half the hits", kPLUBatchingHalfCount, {2000, 2000, 2000, 2000, 2000}, 8192, 2},
      {"half the hits, capped by the limit",
       kPLUBatchingHalfCount,
       {5000, 5000, 5000, 5000},
       8192,
       1},
      {"session split among the fitting hits",
       kPLUBatchingSessionSplit,
       {3000, 3000, 3000},
       8192,
       2},
      {"an oversize first hit still goes alone", kPLUBatchingFill, {9000, 10, 10}, 8192, 1},
      {"no limit", kPLUBatchingFill, {90000, 90000}, 0, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(plu_batchCount(c.strategy, candidates(c.lengths), c.maxBody), c.expected) << c.name;
  }
  EXPECT_EQ(plu_batchCount(kPLUBatchingFill, {}, 8192), 0u);
  EXPECT_FALSE(plu_batchCount(9, candidates({5000, 5000}), 8192)) << "unknown strategy";
}

}  // namespace
}  // namespace loomset
