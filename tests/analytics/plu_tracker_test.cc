// The facade and its trackers over a recording dispatcher: registry, switches, rate limiting,
// screen-view counting, usage sequences, null markers, computed fields and sampling.
#include <gtest/gtest.h>

#include "analytics/PLUUsageTracker.h"
#include "analytics/PLUUserDefaults.h"
#include "analytics/model/PLUSampling.h"
#include "loomset/PLU.h"
#include "loomset/PLUDictionaryBuilder.h"
#include "loomset/PLUFields.h"
#include "loomset/PLUTrackedViewController.h"
#include "loomset/platform/PLUAdvertisingIdAccess.h"
#include "support/PLURecording.h"

namespace loomset {
namespace {

using testing::PLUTestFacade;

PLUHitMap eventHit() {
  return PLUHitMap{{"&t", "event"}, {"&ec", "c"}, {"&ea", "a"}};
}

TEST(PLUFacade, TrackerRegistryAndDefaultTracker) {
  PLUTestFacade env;
  PLU& plu = env.facade();

  EXPECT_EQ(plu.trackerWithName("  \n", "UA-1"), nullptr);
  EXPECT_TRUE(env.log().contains("Nil or empty name supplied. Cannot create tracker."));
  EXPECT_EQ(plu.trackerWithName("\xC2\xA0\xE2\x80\x82", "UA-1"), nullptr);  // Unicode blanks

  auto first = plu.trackerWithName("main", "UA-1");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(plu.trackerWithName("main", "UA-2"), first);
  EXPECT_EQ(first->get("&tid"), "UA-1");
  EXPECT_EQ(plu.defaultTracker(), first);

  auto second = plu.trackerWithTrackingId("UA-9");
  EXPECT_EQ(second->name(), "UA-9");
  EXPECT_EQ(second->get("&tid"), "UA-9");
  EXPECT_EQ(plu.defaultTracker(), first);

  plu.removeTrackerByName("main");
  EXPECT_EQ(plu.defaultTracker(), nullptr);
  auto third = plu.trackerWithName("later", "UA-3");
  EXPECT_EQ(plu.defaultTracker(), third);
  EXPECT_EQ(plu.trackerWithName("UA-9", "x"), second);  // still registered

  // A removed tracker is a new one when asked for again.
  auto again = plu.trackerWithName("main", "UA-4");
  EXPECT_NE(again, first);
  EXPECT_EQ(again->get("&tid"), "UA-4");
}

TEST(PLUFacade, SwitchesReachTheDispatcher) {
  PLUTestFacade env;
  PLU& plu = env.facade();
  EXPECT_FALSE(plu.optOut());
  plu.setOptOut(true);
  EXPECT_TRUE(env.dispatcher().optOut());
  plu.setDryRun(true);
  EXPECT_TRUE(plu.dryRun());
  EXPECT_TRUE(env.dispatcher().dryRun());
  EXPECT_EQ(plu.dispatchInterval(), 120);
  plu.setDispatchInterval(30);
  EXPECT_EQ(env.dispatcher().dispatchInterval(), 30);
  plu.dispatch();
  PLUDispatchOutcome outcome = kPLUDispatchFailed;
  plu.dispatchWithCompletionHandler([&outcome](PLUDispatchOutcome o) { outcome = o; });
  EXPECT_EQ(outcome, kPLUDispatchNothingToSend);
  EXPECT_EQ(env.dispatcher().dispatchCount(), 2);
  EXPECT_EQ(plu.clientId(), env.dispatcher().dataStore()->clientId());
  EXPECT_EQ(PLUUsageTracker::getUsageSequence(), ".rq23ts");

  // Opted out, nothing reaches the store.
  plu.trackerWithName("t", "UA-1")->send(eventHit());
  EXPECT_EQ(env.dispatcher().hitCount(), 0u);
}

TEST(PLUFacade, FirstInitTimeStampWrittenOnce) {
  double firstStamp = 0;
  {
    PLUTestFacade env;
    auto defaults = PLUInternal::userDefaults(env.facade());
    ASSERT_NE(defaults, nullptr);
    firstStamp = defaults->doubleForKey(kPLUUserDefaultsFirstInitTimestamp).value_or(0);
    EXPECT_EQ(firstStamp, env.platform().clock().nowSeconds());
    // A later facade over the same data root keeps the stored date.
    env.platform().clock().advanceSeconds(500);
    PLUUserDefaults reread(defaults->path());
    EXPECT_EQ(reread.doubleForKey(kPLUUserDefaultsFirstInitTimestamp), firstStamp);
  }
}

TEST(PLUFacade, WithoutDispatcherNoTrackers) {
  PLUTestFacade env(nullptr, /*withDispatcher=*/false);
  EXPECT_TRUE(env.log().contains("Dispatcher initialization failed: no dispatcher in this test"));
  EXPECT_EQ(env.facade().trackerWithName("t", "UA-1"), nullptr);
  EXPECT_TRUE(env.log().contains("Cannot initiate dispatcher: no dispatcher in this test"));
  EXPECT_TRUE(env.log().contains("initialization failed: dispatcher is required."));
  EXPECT_EQ(env.facade().clientId(), "");
}

TEST(PLUTracker, RateLimitWithFakeClock) {
  PLUTestFacade env;
  auto tracker = env.facade().trackerWithName("t", "UA-1");
  for (int i = 0; i < 61; ++i) tracker->send(eventHit());
  EXPECT_EQ(env.dispatcher().hitCount(), 60u);
  EXPECT_EQ(env.log().count("Excessive tracking detected and throttled."), 1);

  // Transactions and items pass an empty bucket.
  tracker->send({{"&t", "transaction"}, {"&ti", "T"}});
  tracker->send({{"&t", "item"}, {"&ti", "T"}});
  EXPECT_EQ(env.dispatcher().hitCount(), 62u);

  env.platform().clock().advanceSeconds(2);
  tracker->send(eventHit());
  tracker->send(eventHit());
  EXPECT_EQ(env.dispatcher().hitCount(), 63u);

  // Each tracker has its own bucket.
  env.facade().trackerWithName("other", "UA-2")->send(eventHit());
  EXPECT_EQ(env.dispatcher().hitCount(), 64u);
}

TEST(PLUTracker, ScreenViewsNumberTheHits) {
  PLUTestFacade env;
  auto tracker = env.facade().trackerWithName("t", "UA-1");
  const auto a = [&env] { return std::stoul(*env.dispatcher().lastHit().at("&a")); };
  tracker->send(eventHit());
  const unsigned long start = a();
  tracker->send(eventHit());
  EXPECT_EQ(a(), start);
  tracker->send({{"&t", "screenview"}});
  EXPECT_EQ(a(), start + 1);
  tracker->send({{"&t", "appview"}});
  EXPECT_EQ(a(), start + 2);
  tracker->send(eventHit());
  EXPECT_EQ(a(), start + 2);
  tracker->send({{"&cd", "no type"}});  // no type anywhere counts as a screen view
  EXPECT_EQ(a(), start + 3);
  EXPECT_TRUE(env.log().contains("Bad or missing hit type."));
  tracker->set("&t", "event");  // the tracker's type stands in for a hit without one
  tracker->send({{"&cd", "x"}});
  EXPECT_EQ(a(), start + 3);
  tracker->send({{"&t", kPLUNullMarker}});  // a null type is a type, and not a screen view
  EXPECT_EQ(a(), start + 3);
}

TEST(PLUTracker, BuiltHitMergesTrackerComputedAndHitFields) {
  PLUTestFacade env([](Platform& p) { p.application.shortVersion = "2.5"; });
  auto tracker = env.facade().trackerWithName("t", "UA-1");
  tracker->set("&cd", "Home");
  tracker->set("&el", "tracker-label");
  tracker->send(PLUDictionaryBuilder::createEventWithCategory("c", "a", std::nullopt, 3).build());
  const PLUHitMap hit = env.dispatcher().lastHit();
  const std::string cid = env.dispatcher().dataStore()->clientId();
  EXPECT_EQ(hit.at("&tid"), "UA-1");
  EXPECT_EQ(hit.at("&cd"), "Home");
  EXPECT_EQ(hit.at("&el"), kPLUNullMarker);  // masked for this hit only
  EXPECT_EQ(hit.at("&ev"), "3");
  EXPECT_EQ(hit.at("&cid"), cid);
  EXPECT_EQ(hit.at("&ul"), "en-us");
  EXPECT_EQ(hit.at("&dm"), "x86_64");
  EXPECT_EQ(hit.at("&sr"), "2048x1536");
  EXPECT_EQ(hit.at("&ds"), "app");
  EXPECT_EQ(hit.at("&_crc"), "0");
  EXPECT_EQ(hit.at("&an"), "LoomsetTests");
  EXPECT_EQ(hit.at("&av"), "2.5");
  EXPECT_EQ(hit.at("&aid"), "org.loomset.tests");
  EXPECT_EQ(hit.at("pluVersion"), "3.17");
  EXPECT_EQ(hit.at("&_v"), "mi3.1.7");
  EXPECT_EQ(hit.at("&v"), "1");
  EXPECT_EQ(hit.count("&idfa"), 0u);  // no advertising-id access registered
  EXPECT_EQ(hit.count("&ate"), 0u);
  tracker->send(eventHit());
  EXPECT_EQ(hit.at("&el"), kPLUNullMarker);
  EXPECT_EQ(env.dispatcher().lastHit().at("&el"), "tracker-label");
  // The cache buster counts up by one per built hit.
  EXPECT_EQ(std::stoull(*env.dispatcher().lastHit().at("&z")), std::stoull(*hit.at("&z")) + 1);

  // The forced fields win over anything a hit says.
  tracker->send({{"&t", "event"}, {"&v", "9"}, {"&_v", "x"}});
  EXPECT_EQ(env.dispatcher().lastHit().at("&v"), "1");
  EXPECT_EQ(env.dispatcher().lastHit().at("&_v"), "mi3.1.7");
}

TEST(PLUTracker, NullMarkersAndClientIdFallback) {
  PLUTestFacade env;
  auto tracker = env.facade().trackerWithName("t", "UA-1");
  const std::string cid = env.dispatcher().dataStore()->clientId();
  EXPECT_EQ(tracker->get("&cid"), cid);  // computed, never set
  EXPECT_EQ(tracker->get("&sr"), "2048x1536");
  EXPECT_EQ(tracker->get("&unknown"), std::nullopt);

  tracker->set("&sr", std::nullopt);
  tracker->set("&cid", std::nullopt);
  EXPECT_EQ(tracker->get("&sr"), std::nullopt);
  tracker->send(eventHit());
  PLUHitMap hit = env.dispatcher().lastHit();
  EXPECT_EQ(hit.at("&sr"), kPLUNullMarker);  // present but never sent
  EXPECT_EQ(hit.at("&cid"), cid);            // falls back to the client id

  tracker->set("&cid", "");
  tracker->send(eventHit());
  EXPECT_EQ(env.dispatcher().lastHit().at("&cid"), cid);
  tracker->set("&cid", "mine");
  tracker->send(eventHit());
  EXPECT_EQ(env.dispatcher().lastHit().at("&cid"), "mine");
  // A hit's own tracking id overrides the tracker's.
  tracker->send({{"&t", "event"}, {"&tid", "UA-OTHER"}});
  EXPECT_EQ(env.dispatcher().lastHit().at("&tid"), "UA-OTHER");
  EXPECT_EQ(tracker->get("&tid"), "UA-1");
}

TEST(PLUTracker, UsageSequenceTravelsAsU) {
  PLUTestFacade env;
  auto tracker = env.facade().trackerWithName("t", "UA-1");
  tracker->send(eventHit());
  EXPECT_EQ(env.dispatcher().lastHit().at("&_u"), ".nL");
  tracker->send(eventHit());
  EXPECT_EQ(env.dispatcher().lastHit().at("&_u"), ".L");

  PLUTrackedViewController screen("Checkout");
  screen.viewDidAppear(true);
  const PLUHitMap hit = env.dispatcher().lastHit();
  EXPECT_EQ(hit.at("&_u"), "");  // no API call since the previous send
  EXPECT_EQ(hit.at("&t"), "screenview");
  EXPECT_EQ(hit.at("&cd"), "Checkout");
  EXPECT_EQ(tracker->get("&cd"), "Checkout");  // stays on the tracker

  PLUTrackedViewController unnamed;
  unnamed.viewDidAppear(false);
  EXPECT_TRUE(env.log().contains("Tracked view controller missing view name."));
  EXPECT_EQ(env.dispatcher().hitCount(), 3u);

  auto other = env.facade().trackerWithName("other", "UA-2");
  PLUTrackedViewController onOther("Cart");
  onOther.setTracker(other);
  onOther.viewDidAppear(true);
  EXPECT_EQ(env.dispatcher().lastHit().at("&tid"), "UA-2");
  EXPECT_EQ(env.dispatcher().lastHit().at("&_u"), ".Jn");  // get: of "&cd" above, then the name

  // The builder records its calls too ("dictionaryGet:" for get).
  auto builder = PLUDictionaryBuilder::createEventWithCategory("c", "a", "l", 1);
  builder.set("v", "&cd").get("&cd");
  tracker->send(builder.build());
  EXPECT_EQ(env.dispatcher().lastHit().at("&_u"), ".yACL");
}

TEST(PLUTracker, SamplingDropsHitsOfClientsOutsideTheRate) {
  PLUTestFacade env;
  auto tracker = env.facade().trackerWithName("t", "UA-1");
  tracker->set("&sf", "50");
  int kept = 0;
  for (int i = 0; i < 40; ++i) {
    const std::string cid = "c" + std::to_string(i);
    tracker->set("&cid", cid);
    const std::size_t before = env.dispatcher().hitCount();
    tracker->send({{"&t", "transaction"}});
    const bool expected = PLUSampling::qzHash(cid) % 10000 < 5000;
    EXPECT_EQ(env.dispatcher().hitCount() - before, expected ? 1u : 0u) << cid;
    kept += expected;
  }
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, 40);
  tracker->set("&sf", "abc");
  tracker->send({{"&t", "transaction"}});
  EXPECT_EQ(env.dispatcher().lastHit().at("&sf"), "abc");
}

TEST(PLUTracker, AdvertisingIdRegeneratesClientIdWhenItChanges) {
  std::string identifier = "AAAA-1";
  bool trackingFlag = true;
  auto access = std::make_shared<PLUAdvertisingIdAccess>();
  access->retrieveId = [&identifier]() -> std::optional<std::string> { return identifier; };
  access->retrieveTrackingFlag = [&trackingFlag] { return trackingFlag; };
  PLUTestFacade env([access](Platform& platform) { platform.advertisingId = access; });
  auto store = env.dispatcher().dataStore();
  auto tracker = env.facade().trackerWithName("t", "UA-1");
  tracker->send({{"&t", "transaction"}});
  EXPECT_EQ(env.dispatcher().lastHit().at("&idfa"), kPLUNullMarker);  // not allowed yet
  EXPECT_EQ(env.dispatcher().lastHit().at("&ate"), kPLUNullMarker);

  tracker->setAllowIDFACollection(true);
  const std::string cid1 = store->clientId();
  tracker->send({{"&t", "transaction"}});
  PLUHitMap hit = env.dispatcher().lastHit();
  EXPECT_EQ(hit.at("&idfa"), "AAAA-1");
  EXPECT_EQ(hit.at("&ate"), "1");
  EXPECT_EQ(hit.at("&cid"), cid1);  // the first identifier seen keeps the client id
  EXPECT_EQ(store->hashedIdfa(), PLUTrackerModel::hashIdfa("AAAA-1", cid1));
  EXPECT_EQ(hit.at("&_crc"), "0");

  identifier = "BBBB-2";
  trackingFlag = false;
  tracker->send({{"&t", "transaction"}});
  hit = env.dispatcher().lastHit();
  const std::string cid2 = store->clientId();
  EXPECT_NE(cid2, cid1);
  EXPECT_EQ(hit.at("&cid"), cid2);
  EXPECT_EQ(hit.at("&ate"), "0");
  EXPECT_EQ(hit.at("&_crc"), "1");
  EXPECT_EQ(store->hashedIdfa(), PLUTrackerModel::hashIdfa("BBBB-2", cid2));

  // The same identifier again changes nothing; a day later the change count resets.
  tracker->send({{"&t", "transaction"}});
  EXPECT_EQ(store->clientId(), cid2);
  EXPECT_EQ(env.dispatcher().lastHit().at("&_crc"), "1");
  env.platform().clock().advanceSeconds(86401);
  tracker->send({{"&t", "transaction"}});
  EXPECT_EQ(env.dispatcher().lastHit().at("&_crc"), "0");
}

}  // namespace
}  // namespace loomset
