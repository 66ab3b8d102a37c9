// The dispatcher against a real HTTP collector on 127.0.0.1: which requests stored hits become,
// what the collector's answers do to the stored hits, and the rules that delete hits unsent.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "analytics/dispatch/PLUPayload.h"
#include "analytics/dispatch/PLUURLConnection.h"
#include "loomset/PLUFields.h"
#include "support/PLUCollector.h"

namespace loomset {
namespace {

using testing::LocalHttpServer;
using testing::PLUCollector;
using testing::PLUDispatcherHarness;

// Hits handed over ready-made are sampled as the tracker's are: a rate of 0 keeps none of them,
// 100 keeps all.
TEST(PLUDispatcherCollector, HitsQueuedReadyMadeAreSampledAsSentOnesAre) {
  PLUDispatcherHarness h;
  PLUHitMap sampledOut = PLUDispatcherHarness::eventHit("none");
  sampledOut["&sf"] = "0";
  h.queue(sampledOut);
  EXPECT_EQ(h.storedHits(), 0);
  PLUHitMap kept = PLUDispatcherHarness::eventHit("all");
  kept["&sf"] = "100";
  h.queue(kept);
  EXPECT_EQ(h.storedHits(), 1);
}

TEST(PLUDispatcherCollector, OneSmallHitIsAGetToCollect) {
  PLUDispatcherHarness h;
  h.queue(PLUDispatcherHarness::eventHit("first"));
  h.advanceWallClock(3);  // the hit waits three seconds before it goes

  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  const auto requests = h.collector().requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.path, "/collect");
  EXPECT_EQ(request.raw.header("Content-Type"), "application/x-www-form-urlencoded; charset=UTF-8");
  EXPECT_EQ(request.raw.header("User-Agent"),
            "Kestrel/3.17 (x86_64; U; CPU Linux 6.1.0 like Mac OS X; en-us-us)");
  ASSERT_EQ(request.hits.size(), 1u);
  const auto& hit = request.hits[0];
  EXPECT_EQ(hit.at("t"), "event");
  EXPECT_EQ(hit.at("el"), "first");
  EXPECT_EQ(hit.at("ht"),
            std::to_string(static_cast<long long>(testing::FakeClock::kDefaultStartMillis)));
  EXPECT_EQ(hit.at("qt"), "3000");
  EXPECT_EQ(hit.count("pluVersion"), 0u);
  // The cache buster closes the text.
  const std::string& text = request.hitTexts[0];
  EXPECT_EQ(text.substr(text.rfind('&')), "&z=4611686018427387904");

  EXPECT_EQ(h.storedHits(), 0);
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchNothingToSend);
  EXPECT_EQ(h.collector().requestCount(), 1u);
  EXPECT_TRUE(h.log().contains("Hit(s) dispatched: HTTP status 200"));
}

TEST(PLUDispatcherCollector, ALargeSingleHitIsAnUncompressedPostToCollect) {
  PLUDispatcherHarness h;
  PLUHitMap hit = PLUDispatcherHarness::eventHit("large");
  hit["&cd"] = std::string(2500, 'x');
  h.queue(hit);

  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  const auto requests = h.collector().requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/collect");
  EXPECT_FALSE(requests[0].contentEncoding);
  EXPECT_EQ(requests[0].raw.query, "");
  EXPECT_EQ(requests[0].raw.body.find('\n'), std::string::npos);
  ASSERT_EQ(requests[0].hits.size(), 1u);
  EXPECT_EQ(requests[0].hits[0].at("cd"), std::string(2500, 'x'));
}

TEST(PLUDispatcherCollector, SeveralHitsAreOneGzipPostToBatchOneHitPerLine) {
  PLUDispatcherHarness h;
  for (const char* label : {"one", "two", "three"}) {
    h.queue(PLUDispatcherHarness::eventHit(label));
    h.advanceWallClock(1);
  }

  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  const auto requests = h.collector().requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/batch");
  EXPECT_EQ(request.contentEncoding, "gzip");
  EXPECT_EQ(request.raw.header("Content-Length"), std::to_string(request.raw.body.size()));
  ASSERT_TRUE(request.body);
  EXPECT_NE(request.body->back(), '\n');
  ASSERT_EQ(request.hits.size(), 3u);
  EXPECT_EQ(request.hits[0].at("el"), "one");
  EXPECT_EQ(request.hits[1].at("el"), "two");
  EXPECT_EQ(request.hits[2].at("el"), "three");
  EXPECT_EQ(request.hits[0].at("qt"), "3000");
  EXPECT_EQ(request.hits[2].at("qt"), "1000");
  EXPECT_EQ(h.storedHits(), 0);
}

TEST(PLUDispatcherCollector, BatchRefusedWith404FallsBackToSingleHitsForTheRetryInterval) {
  PLUDispatcherHarness h;
  h.collector().server().enqueueResponse("/batch", LocalHttpServer::Response::text(404, ""));
  for (const char* label : {"a", "b", "c"}) {
    h.queue(PLUDispatcherHarness::eventHit(label));
    h.advanceWallClock(0.001);
  }

  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchFailed);
  EXPECT_EQ(h.storedHits(), 3) << "a refused batch keeps its hits";
  EXPECT_TRUE(h.log().contains("falling back to non-batching mode: HTTP status 404"));

  for (int i = 0; i < 3; ++i) EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  auto requests = h.collector().requests();
  ASSERT_EQ(requests.size(), 4u);
  for (std::size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(requests[i].path, "/collect");
    ASSERT_EQ(requests[i].hits.size(), 1u);
  }
  EXPECT_EQ(requests[1].hits[0].at("el"), "a");
  EXPECT_EQ(requests[3].hits[0].at("el"), "c");
  EXPECT_EQ(h.storedHits(), 0);

  // Still one by one within the hour; batches again after it.
  h.queue(PLUDispatcherHarness::eventHit("d"));
  h.queue(PLUDispatcherHarness::eventHit("e"));
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  EXPECT_EQ(h.collector().requests().back().path, "/collect");
  h.advanceWallClock(3601);
  h.queue(PLUDispatcherHarness::eventHit("f"));
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  requests = h.collector().requests();
  EXPECT_EQ(requests.back().path, "/batch");
  EXPECT_EQ(requests.back().hits.size(), 2u);
}

TEST(PLUDispatcherCollector, AnyAnswerToASingleHitDeletesItButABatch500DoesToo) {
  PLUDispatcherHarness h;
  h.collector().server().setResponse("/collect", LocalHttpServer::Response::text(500, "oops"));
  h.queue(PLUDispatcherHarness::eventHit("doomed"));
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  EXPECT_EQ(h.collector().requestCount(), 1u);
  EXPECT_EQ(h.storedHits(), 0);
  EXPECT_TRUE(h.log().contains("Hit(s) dispatched: HTTP status 500"));

  // Only 302, 404 and 502 refuse a batch; other statuses are final for its hits.
  h.collector().server().setResponse("/batch", LocalHttpServer::Response::text(503, ""));
  h.queue(PLUDispatcherHarness::eventHit("x"));
  h.queue(PLUDispatcherHarness::eventHit("y"));
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  EXPECT_EQ(h.storedHits(), 0);
}

TEST(PLUDispatcherCollector, ConnectionRefusedKeepsHitsForALaterDispatch) {
  PLUCollectorEndpoints nowhere;
  nowhere.plainBaseUrl = "http://127.0.0.1:" + std::to_string(LocalHttpServer::unusedPort());
  nowhere.secureBaseUrl = nowhere.plainBaseUrl;
  PLUDispatcherHarness h(
      [&nowhere](PLUBatchingDispatcher::Options& options) { options.context.endpoints = nowhere; });
  h.queue(PLUDispatcherHarness::eventHit("patient"));

  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchFailed);
  EXPECT_EQ(h.storedHits(), 1);
  EXPECT_TRUE(h.log().contains("Dispatch error: "));

  h.dispatcher().setCollectorEndpoints(h.collector().endpoints());
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  ASSERT_EQ(h.collector().hits().size(), 1u);
  EXPECT_EQ(h.collector().hits()[0].at("el"), "patient");
  EXPECT_EQ(h.storedHits(), 0);
}

TEST(PLUDispatcherCollector, DryRunDeletesHitsAndReportsThemSentWithoutTraffic) {
  PLUDispatcherHarness h;
  h.queue(PLUDispatcherHarness::eventHit("one"));
  h.queue(PLUDispatcherHarness::eventHit("two"));
  h.dispatcher().setDryRun(true);
  EXPECT_TRUE(PLUURLConnection::dryRun());

  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  EXPECT_EQ(h.storedHits(), 0);
  EXPECT_EQ(h.collector().requestCount(), 0u);
  EXPECT_EQ(h.collector().server().acceptedConnections(), 0u);
}

TEST(PLUDispatcherCollector, OptingOutDeletesStoredHitsAndDropsNewOnes) {
  PLUDispatcherHarness h;
  h.queue(PLUDispatcherHarness::eventHit("one"));
  h.queue(PLUDispatcherHarness::eventHit("two"));
  ASSERT_EQ(h.storedHits(), 2);

  h.dispatcher().setOptOut(true);
  h.worker().runUntilIdle();
  EXPECT_EQ(h.storedHits(), 0);
  h.queue(PLUDispatcherHarness::eventHit("while opted out"));
  EXPECT_EQ(h.storedHits(), 0);
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchNothingToSend);

  h.dispatcher().setOptOut(false);
  h.queue(PLUDispatcherHarness::eventHit("back"));
  EXPECT_EQ(h.storedHits(), 1);
  EXPECT_EQ(h.collector().requestCount(), 0u);
}

TEST(PLUDispatcherCollector, HitsOlderThanThirtyDaysAreDeletedUnsent) {
  PLUDispatcherHarness h;
  const double now = h.clock().nowSeconds();
  PLUHitMap old = PLUDispatcherHarness::eventHit("forty days old");
  old["timestamp"] = plu_formatHitTime(now - 40 * 86400.0);
  h.queue(old);
  ASSERT_EQ(h.storedHits(), 1);
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchNothingToSend);
  EXPECT_EQ(h.storedHits(), 0);
  EXPECT_EQ(h.collector().requestCount(), 0u);

  // Among fresh hits, only the stale ones go.
  h.queue(old);
  PLUHitMap fresh = PLUDispatcherHarness::eventHit("fresh");
  fresh["timestamp"] = plu_formatHitTime(now - 29 * 86400.0);
  h.queue(fresh);
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  const auto hits = h.collector().hits();
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].at("el"), "fresh");
  EXPECT_EQ(hits[0].at("qt"), std::to_string(29LL * 86400 * 1000));
}

TEST(PLUDispatcherCollector, PlainAndSecureHitsNeverShareARequest) {
  PLUCollector plain;
  PLUCollector secure;
  PLUCollectorEndpoints endpoints;
  endpoints.plainBaseUrl = plain.server().baseUrl();
  endpoints.secureBaseUrl = secure.server().baseUrl() + "/";
  PLUDispatcherHarness h([&endpoints](PLUBatchingDispatcher::Options& options) {
    options.context.endpoints = endpoints;
  });
  for (const char* label : {"s1", "p1", "s2", "p2"}) {
    PLUHitMap hit = PLUDispatcherHarness::eventHit(label);
    if (label[0] == 'p') hit[kPLUUseSecure] = "0";
    h.queue(hit);
    h.advanceWallClock(1);
  }
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  ASSERT_EQ(secure.requests().size(), 1u);
  ASSERT_EQ(plain.requests().size(), 1u);
  EXPECT_EQ(secure.requests()[0].path, "/batch");
  ASSERT_EQ(secure.requests()[0].hits.size(), 2u);
  EXPECT_EQ(secure.requests()[0].hits[1].at("el"), "s2");
  ASSERT_EQ(plain.requests()[0].hits.size(), 2u);
  EXPECT_EQ(plain.requests()[0].hits[0].at("el"), "p1");
  EXPECT_EQ(plain.requests()[0].hits[0].count("useSecure"), 0u);
}

TEST(PLUDispatcherCollector, TheDefaultHandlerDrainsTheStoreBatchAfterBatch) {
  PLUDispatcherHarness h;
  std::atomic<int> announced{0};
  auto token = h.dispatcher().addWillDispatchObserver([&](PLUBatchingDispatcher&) { announced++; });
  for (int i = 0; i < 45; ++i) {
    h.queue(PLUDispatcherHarness::eventHit(std::to_string(i)));
    h.advanceWallClock(0.001);  // one millisecond apart: stored order is sending order
  }

  h.dispatcher().dispatch();
  ASSERT_TRUE(h.driveUntil([&] { return h.collector().hits().size() == 45; }));
  ASSERT_TRUE(h.driveUntil([&] { return h.storedHits() == 0; }));
  const auto requests = h.collector().requests();
  ASSERT_EQ(requests.size(), 3u);  // 20 hits per dispatch at most
  EXPECT_EQ(requests[0].hits.size(), 20u);
  EXPECT_EQ(requests[2].hits.size(), 5u);
  EXPECT_EQ(requests[2].hits.back().at("el"), "44");
  EXPECT_EQ(announced.load(), 3);
  EXPECT_EQ(h.dispatcher().dispatchInterval(), 120) << "dispatch keeps the timer";

  token.reset();
  h.queue(PLUDispatcherHarness::eventHit("after"));
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  EXPECT_EQ(announced.load(), 3);
  EXPECT_EQ(h.dispatcher().dispatchInterval(), -1) << "a completion handler stops the timer";
}

TEST(PLUDispatcherCollector, HitsTooLargeToSendAreDeletedWithoutAnEmptyRequest) {
  PLUDispatcherHarness h;
  PLUHitMap huge = PLUDispatcherHarness::eventHit("huge");
  huge["&cd"] = std::string(9000, 'y');
  h.queue(huge);
  h.advanceWallClock(1);
  h.queue(PLUDispatcherHarness::eventHit("normal"));

  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  EXPECT_TRUE(h.log().contains("Failed to generate request for hit(s)."));
  EXPECT_EQ(h.collector().requestCount(), 0u);
  EXPECT_EQ(h.storedHits(), 1);
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  ASSERT_EQ(h.collector().hits().size(), 1u);
  EXPECT_EQ(h.collector().hits()[0].at("el"), "normal");
}

TEST(PLUDispatcherCollector, HitsAreNumberedPerTrackingId) {
  PLUDispatcherHarness h;
  for (const char* tid : {"UA-1", "UA-2", "UA-1", "UA-1", "UA-2"}) {
    h.queue(PLUDispatcherHarness::eventHit(tid, tid));
    h.advanceWallClock(1);
  }
  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  std::vector<std::string> numbers;
  for (const auto& hit : h.collector().hits())
    numbers.push_back(hit.at("tid") + ":" + hit.at("_s"));
  EXPECT_EQ(numbers, (std::vector<std::string>{"UA-1:0", "UA-2:0", "UA-1:1", "UA-1:2", "UA-2:1"}));
}

}  // namespace
}  // namespace loomset
