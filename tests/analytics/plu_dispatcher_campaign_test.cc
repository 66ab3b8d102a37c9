// The one-time install-campaign hit: asked of a registered attribution provider within a day of
// the first start, its answer remembered, sent once per tracking id.
#include <gtest/gtest.h>

#include <vector>

#include "analytics/PLUUserDefaults.h"
#include "analytics/dispatch/PLUPayload.h"
#include "loomset/PLUFields.h"
#include "support/PLUCollector.h"

namespace loomset {
namespace {

using testing::PLUDispatcherHarness;

struct CampaignSetup {
  std::shared_ptr<PLUAdAttributionProvider> provider = std::make_shared<PLUAdAttributionProvider>();
  std::vector<PLUHitMap> sent;
  int asked = 0;

  PLUDispatcherHarness::Customize customize() {
    return [this](PLUBatchingDispatcher::Options& options) {
      // The provider comes with the platform bundle the dispatcher is given.
      auto platform = std::make_shared<Platform>(*options.context.platform);
      platform->adAttribution = provider;
      options.context.platform = platform;
      options.context.sendCampaignHit = [this](const PLUHitMap& hit) { sent.push_back(hit); };
    };
  }
};

std::shared_ptr<PLUUserDefaults> defaultsOf(PLUDispatcherHarness& h) {
  return PLUUserDefaults::forLibraryDirectory(
      h.platform().platform()->directories.libraryDirectory());
}

TEST(PLUDispatcherCampaign, AnAttributedInstallSendsOneCampaignHitPerTrackingId) {
  CampaignSetup setup;
  setup.provider->lookupAdConversionDetails =
      [&setup](PLUAdAttributionProvider::ConversionDetailsReply reply) {
        ++setup.asked;
        reply(1699990000.0, 1699980000.0);
      };
  PLUDispatcherHarness h(setup.customize());
  const double firstStart = h.clock().nowSeconds() - 3600;
  defaultsOf(h)->setDouble(firstStart, kPLUUserDefaultsFirstInitTimestamp);

  PLUHitMap trigger = PLUDispatcherHarness::eventHit("trigger");
  trigger["&idfa"] = "AEBE52E7-03EE-455A-B3C4-E57283966239";
  trigger["&uid"] = kPLUNullMarker;
  h.queue(trigger);
  ASSERT_EQ(setup.sent.size(), 1u);
  const PLUHitMap& hit = setup.sent[0];
  EXPECT_EQ(hit.at("&t"), "data");
  EXPECT_EQ(hit.at("&cs"), "iAd");
  EXPECT_EQ(hit.at("&ni"), "1");
  EXPECT_EQ(hit.at("&tid"), "UA-1");
  EXPECT_EQ(hit.at("&cid"), trigger.at("&cid"));
  EXPECT_EQ(hit.at("&idfa"), trigger.at("&idfa"));
  EXPECT_EQ(hit.at("&an"), "LoomsetTests");
  EXPECT_EQ(hit.count("&uid"), 0u) << "a masked field is not copied";
  EXPECT_EQ(hit.count("&ec"), 0u);
  EXPECT_EQ(hit.at("timestamp"), plu_formatHitTime(firstStart));
  EXPECT_EQ(defaultsOf(h)->boolForKey(kPLUUserDefaultsCampaignInfoIAd), true);

  // The answer is remembered, and each tracking id sends once.
  h.queue(PLUDispatcherHarness::eventHit("again"));
  h.queue(PLUDispatcherHarness::eventHit("other", "UA-2"));
  EXPECT_EQ(setup.asked, 1);
  ASSERT_EQ(setup.sent.size(), 2u);
  EXPECT_EQ(setup.sent[1].at("&tid"), "UA-2");

  // The campaign hit itself never triggers the check.
  PLUHitMap campaign = setup.sent[0];
  h.queue(campaign);
  EXPECT_EQ(setup.sent.size(), 2u);
}

TEST(PLUDispatcherCampaign, AnInstallNotAttributedIsRememberedAndSendsNothing) {
  CampaignSetup setup;
  setup.provider->determineAppInstallationAttribution =
      [&setup](PLUAdAttributionProvider::AttributionReply reply) {
        ++setup.asked;
        reply(false);
      };
  PLUDispatcherHarness h(setup.customize());
  defaultsOf(h)->setDouble(h.clock().nowSeconds(), kPLUUserDefaultsFirstInitTimestamp);
  h.queue(PLUDispatcherHarness::eventHit("one"));
  h.queue(PLUDispatcherHarness::eventHit("two"));
  EXPECT_EQ(setup.asked, 1);
  EXPECT_TRUE(setup.sent.empty());
  EXPECT_EQ(defaultsOf(h)->boolForKey(kPLUUserDefaultsCampaignInfoIAd), false);
  EXPECT_EQ(h.storedHits(), 2) << "the hits themselves are stored as always";
}

TEST(PLUDispatcherCampaign, NothingIsAskedOutsideTheCampaignWindowOrWithoutAFirstStart) {
  CampaignSetup setup;
  setup.provider->determineAppInstallationAttribution =
      [&setup](PLUAdAttributionProvider::AttributionReply reply) {
        ++setup.asked;
        reply(true);
      };
  PLUDispatcherHarness h(setup.customize());
  h.queue(PLUDispatcherHarness::eventHit("no first start"));
  EXPECT_TRUE(
      h.log().contains("iAd campaign tracking disabled because the PLU init time was not found."));

  defaultsOf(h)->setDouble(h.clock().nowSeconds() - 86401, kPLUUserDefaultsFirstInitTimestamp);
  h.queue(PLUDispatcherHarness::eventHit("too late"));
  defaultsOf(h)->setDouble(h.clock().nowSeconds() + 90000, kPLUUserDefaultsFirstInitTimestamp);
  h.queue(PLUDispatcherHarness::eventHit("clock went back"));
  EXPECT_EQ(setup.asked, 0);
  EXPECT_TRUE(setup.sent.empty());
}

TEST(PLUDispatcherCampaign, TheCampaignHitNeedsAClientAndTrackingId) {
  const PLUHitMap full = PLUDispatcherHarness::eventHit("x");
  ASSERT_TRUE(plu_buildIAdCampaignHit(full, 1700000000));
  for (const char* key : {"&cid", "&tid"}) {
    PLUHitMap missing = full;
    missing.erase(key);
    EXPECT_FALSE(plu_buildIAdCampaignHit(missing, 1700000000)) << key;
    missing[key] = kPLUNullMarker;
    EXPECT_FALSE(plu_buildIAdCampaignHit(missing, 1700000000)) << key;
  }
  // Without a provider the check stops at once.
  PLUDispatcherHarness h;
  h.queue(full);
  EXPECT_EQ(h.storedHits(), 1);
}

}  // namespace
}  // namespace loomset
