// The one-time install-campaign hit: when the ad-attribution provider finds that the installation
// came from an ad campaign, each tracking id sends one "data" hit with campaign source "iAd",
// dated at the first start, within a day of that start.
#include <atomic>
#include <cmath>

#include "analytics/PLULog.h"
#include "analytics/PLUUserDefaults.h"
#include "analytics/dispatch/PLUBatchingDispatcher.h"
#include "analytics/dispatch/PLUPayload.h"
#include "analytics/store/PLUAnalyticsPropertiesStore.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/EventLoop.h"
#include "loomset/platform/Platform.h"

namespace loomset {
namespace {

const std::string* textFor(const PLUHitMap& hit, const char* key) {
  const auto it = hit.find(key);
  return it != hit.end() && it->second ? &*it->second : nullptr;
}

// Logs `message` the first time it comes with this flag in the process.
void logOnce(std::atomic<bool>& logged, const char* message) {
  if (!logged.exchange(true)) PLU_LOG_VERBOSE(message);
}

}  // namespace

// The campaign hit for a triggering hit: nothing without its "&cid" and "&tid".
std::optional<PLUHitMap> plu_buildIAdCampaignHit(const PLUHitMap& hit, double firstStartSeconds) {
  const std::string* cid = textFor(hit, kPLUClientId);
  const std::string* tid = textFor(hit, kPLUTrackingId);
  if (!cid || !tid) return std::nullopt;
  PLUHitMap campaign;
  campaign[kPLUClientId] = *cid;
  campaign[kPLUTrackingId] = *tid;
  for (const char* key : {kPLUAdTargetingEnabled, kPLUAppId, kPLUAppInstallerId, kPLUAppName,
                          kPLUAppVersion, kPLUIdfa, kPLUUserId}) {
    if (const std::string* value = textFor(hit, key)) campaign[key] = *value;
  }
  campaign[kPLUHitType] = kPLUData;
  campaign[kPLUCampaignSource] = kPLUCampaignSourceIAd;
  campaign[kPLUNonInteraction] = kPLUHitFormatTrue;
  campaign["timestamp"] = plu_formatHitTime(firstStartSeconds);
  return campaign;
}

void PLUBatchingDispatcher::checkIAdCampaignAttributionWithHitParameters(const PLUHitMap& hit) {
  static std::atomic<bool> loggedNoProvider{false};
  static std::atomic<bool> loggedPastWindow{false};

  const std::string* source = textFor(hit, kPLUCampaignSource);
  if (source && *source == kPLUCampaignSourceIAd) return;
  const auto provider = platform_->adAttribution;
  if (!provider ||
      (!provider->lookupAdConversionDetails && !provider->determineAppInstallationAttribution)) {
    logOnce(loggedNoProvider,
            "iAd campaign tracking disabled because the iAd framework is not linked. Register a "
            "PLUAdAttributionProvider to enable it.");
    return;
  }
  const auto& userDefaults = context_.userDefaults;
  const std::optional<double> firstStart =
      userDefaults ? userDefaults->doubleForKey(kPLUUserDefaultsFirstInitTimestamp) : std::nullopt;
  if (!firstStart) {
    PLU_LOG_ERROR("iAd campaign tracking disabled because the PLU init time was not found.");
    return;
  }
  if (std::fabs(platform_->clock->nowSeconds() - *firstStart) > kPLUMaxInstallCampaignAgeSecs) {
    logOnce(loggedPastWindow,
            "iAd campaign tracking disabled because the current date is past the campaign window.");
    return;
  }
  const std::optional<PLUHitMap> campaignHit = plu_buildIAdCampaignHit(hit, *firstStart);
  if (!campaignHit) return;

  if (userDefaults->hasKey(kPLUUserDefaultsCampaignInfoIAd)) {
    if (userDefaults->boolForKey(kPLUUserDefaultsCampaignInfoIAd).value_or(false)) {
      sendIAdCampaignHit(*campaignHit);
    }
    return;
  }
  // The provider answers later, from any thread; the answer is handled from there.
  std::weak_ptr<PLUBatchingDispatcher> weakSelf = weak_from_this();
  auto shared = std::make_shared<const PLUHitMap>(*campaignHit);
  if (provider->lookupAdConversionDetails) {
    provider->lookupAdConversionDetails(
        [weakSelf, shared](std::optional<double>, std::optional<double> impressionDate) {
          if (auto self = weakSelf.lock()) {
            self->handleCampaignResult(impressionDate.has_value(), *shared);
          }
        });
  } else {
    provider->determineAppInstallationAttribution([weakSelf, shared](bool attributed) {
      if (auto self = weakSelf.lock()) self->handleCampaignResult(attributed, *shared);
    });
  }
}

void PLUBatchingDispatcher::handleCampaignResult(bool attributed, const PLUHitMap& campaignHit) {
  const auto& userDefaults = context_.userDefaults;
  if (!userDefaults) return;
  if (!userDefaults->hasKey(kPLUUserDefaultsCampaignInfoIAd)) {
    userDefaults->setBool(attributed, kPLUUserDefaultsCampaignInfoIAd);
    userDefaults->synchronize();
  }
  if (!attributed) return;
  auto shared = std::make_shared<const PLUHitMap>(campaignHit);
  onWorker([shared](PLUBatchingDispatcher& self) { self.sendIAdCampaignHit(*shared); });
}

void PLUBatchingDispatcher::sendIAdCampaignHit(const PLUHitMap& campaignHit) {
  const std::string* tid = textFor(campaignHit, kPLUTrackingId);
  if (!tid) return;
  if (!iAdCampaignTrackerIdCache_.insert(*tid).second) return;
  if (!propertiesStore_ || !propertiesStore_->setCheckedIAdCampaignForTrackingId(*tid)) return;
  PLU_LOG_VERBOSE("Sending iAd campaign attribution.");
  if (context_.sendCampaignHit) context_.sendCampaignHit(campaignHit);
}

}  // namespace loomset
