// The vocabulary of analytics hits: every exported parameter name, hit type, sub-key and fixed
// value, and the functions that form indexed parameter names ("&pr2nm", "&il1pi3id", "&cd7").
// Values starting with "&" are wire parameters; the others are hit-type names, sub-keys of
// commerce objects, fixed values or keys that travel with a hit but are never sent.
//
// Constants and stateless functions; safe from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "loomset/Export.h"

namespace loomset {

// Protocol core.
inline constexpr const char* kPLUApiVersion = "&v";
inline constexpr const char* kPLUTrackingId = "&tid";
inline constexpr const char* kPLUClientId = "&cid";
inline constexpr const char* kPLUUserId = "&uid";
inline constexpr const char* kPLUAnonymizeIp = "&aip";
inline constexpr const char* kPLUHitType = "&t";
inline constexpr const char* kPLUNonInteraction = "&ni";
inline constexpr const char* kPLUSessionControl = "&sc";
inline constexpr const char* kPLUSampleRate = "&sf";
inline constexpr const char* kPLUQueueTime = "&qt";
inline constexpr const char* kPLUHitTime = "&ht";
inline constexpr const char* kPLUCacheBuster = "&z";
inline constexpr const char* kPLUHitNumber = "&_s";
inline constexpr const char* kPLUUsageTracking = "&_u";
inline constexpr const char* kPLUClientVersion = "&_v";
inline constexpr const char* kPLUCrc = "&_crc";
inline constexpr const char* kPLUX10Data = "&_x";
inline constexpr const char* kPLUDataSource = "&ds";
inline constexpr const char* kPLUIdfa = "&idfa";
inline constexpr const char* kPLUAdTargetingEnabled = "&ate";
inline constexpr const char* kPLUPennonHitId = "&a";

// Application.
inline constexpr const char* kPLUAppName = "&an";
inline constexpr const char* kPLUAppVersion = "&av";
inline constexpr const char* kPLUAppId = "&aid";
inline constexpr const char* kPLUAppInstallerId = "&aiid";

// Content and device.
inline constexpr const char* kPLUScreenName = "&cd";
inline constexpr const char* kPLUDescription = "&cd";
inline constexpr const char* kPLULocation = "&dl";
inline constexpr const char* kPLUHostname = "&dh";
inline constexpr const char* kPLUPage = "&dp";
inline constexpr const char* kPLUTitle = "&dt";
inline constexpr const char* kPLUReferrer = "&dr";
inline constexpr const char* kPLULanguage = "&ul";
inline constexpr const char* kPLUEncoding = "&de";
inline constexpr const char* kPLUScreenResolution = "&sr";
inline constexpr const char* kPLUViewportSize = "&vp";
inline constexpr const char* kPLUScreenColors = "&sd";
inline constexpr const char* kPLUDeviceModelVersion = "&dm";
inline constexpr const char* kPLUFlashVersion = "&fl";
inline constexpr const char* kPLUJavaEnabled = "&je";

// Campaign.
inline constexpr const char* kPLUCampaignSource = "&cs";
inline constexpr const char* kPLUCampaignMedium = "&cm";
inline constexpr const char* kPLUCampaignName = "&cn";
inline constexpr const char* kPLUCampaignKeyword = "&ck";
inline constexpr const char* kPLUCampaignContent = "&cc";
inline constexpr const char* kPLUCampaignId = "&ci";
inline constexpr const char* kPLUCampaignAdNetworkClickId = "&aclid";
inline constexpr const char* kPLUCampaignAdNetworkId = "&anid";
inline constexpr const char* kPLUOclid = "&oclid";
inline constexpr const char* kPLURclid = "&rclid";
inline constexpr const char* kPLUZmob_t = "&zmob_t";
inline constexpr const char* kPLUCampaignSourceIAd = "iAd";

// Campaign input keys (query parameters of a campaign URL).
inline constexpr const char* kPLUInputCampaignSource = "utm_source";
inline constexpr const char* kPLUInputCampaignMedium = "utm_medium";
inline constexpr const char* kPLUInputCampaignName = "utm_campaign";
inline constexpr const char* kPLUInputCampaignTerm = "utm_term";
inline constexpr const char* kPLUInputCampaignContent = "utm_content";
inline constexpr const char* kPLUInputCampaignId = "utm_id";
inline constexpr const char* kPLUInputCampaignAdNetworkClickId = "aclid";
inline constexpr const char* kPLUInputCampaignAdNetworkId = "anid";
inline constexpr const char* kPLUInputCampaignOrvexClickId = "oclid";
inline constexpr const char* kPLUInputCampaignRfxClickId = "rclid";
inline constexpr const char* kPLUInputCampaignPennonTicketId = "zmob_t";

// Hit types.
inline constexpr const char* kPLUAppView = "appview";
inline constexpr const char* kPLUScreenView = "screenview";
inline constexpr const char* kPLUEvent = "event";
inline constexpr const char* kPLUException = "exception";
inline constexpr const char* kPLUSocial = "social";
inline constexpr const char* kPLUTiming = "timing";
inline constexpr const char* kPLUTransaction = "transaction";
inline constexpr const char* kPLUItem = "item";
inline constexpr const char* kPLUData = "data";

// Event, exception, social, timing.
inline constexpr const char* kPLUEventCategory = "&ec";
inline constexpr const char* kPLUEventAction = "&ea";
inline constexpr const char* kPLUEventLabel = "&el";
inline constexpr const char* kPLUEventValue = "&ev";
inline constexpr const char* kPLUExDescription = "&exd";
inline constexpr const char* kPLUExFatal = "&exf";
inline constexpr const char* kPLUSocialNetwork = "&sn";
inline constexpr const char* kPLUSocialAction = "&sa";
inline constexpr const char* kPLUSocialTarget = "&st";
inline constexpr const char* kPLUTimingCategory = "&utc";
inline constexpr const char* kPLUTimingVar = "&utv";
inline constexpr const char* kPLUTimingValue = "&utt";
inline constexpr const char* kPLUTimingLabel = "&utl";

// Transaction and item.
inline constexpr const char* kPLUTransactionId = "&ti";
inline constexpr const char* kPLUTransactionAffiliation = "&ta";
inline constexpr const char* kPLUTransactionRevenue = "&tr";
inline constexpr const char* kPLUTransactionShipping = "&ts";
inline constexpr const char* kPLUTransactionTax = "&tt";
inline constexpr const char* kPLUCurrencyCode = "&cu";
inline constexpr const char* kPLUItemName = "&in";
inline constexpr const char* kPLUItemPrice = "&ip";
inline constexpr const char* kPLUItemQuantity = "&iq";
inline constexpr const char* kPLUItemSku = "&ic";
inline constexpr const char* kPLUItemCategory = "&iv";

// Product action.
inline constexpr const char* kPLUProductAction = "&pa";
inline constexpr const char* kPLUProductActionList = "&pal";
inline constexpr const char* kPLUProductListSource = "&pls";
inline constexpr const char* kPLUCheckoutStep = "&cos";
inline constexpr const char* kPLUCheckoutOption = "&col";
inline constexpr const char* kPLUPATransactionId = "&ti";
inline constexpr const char* kPLUPAAffiliation = "&ta";
inline constexpr const char* kPLUPARevenue = "&tr";
inline constexpr const char* kPLUPATax = "&tt";
inline constexpr const char* kPLUPAShipping = "&ts";
inline constexpr const char* kPLUPACouponCode = "&tcc";
inline constexpr const char* kPLUPADetail = "detail";
inline constexpr const char* kPLUPAClick = "click";
inline constexpr const char* kPLUPAAdd = "add";
inline constexpr const char* kPLUPARemove = "remove";
inline constexpr const char* kPLUPACheckout = "checkout";
inline constexpr const char* kPLUPACheckoutOption = "checkout_option";
inline constexpr const char* kPLUPAPurchase = "purchase";
inline constexpr const char* kPLUPARefund = "refund";

// Product sub-keys.
inline constexpr const char* kPLUProductId = "id";
inline constexpr const char* kPLUProductName = "nm";
inline constexpr const char* kPLUProductBrand = "br";
inline constexpr const char* kPLUProductCategory = "ca";
inline constexpr const char* kPLUProductVariant = "va";
inline constexpr const char* kPLUProductPrice = "pr";
inline constexpr const char* kPLUProductQuantity = "qt";
inline constexpr const char* kPLUProductCouponCode = "cc";
inline constexpr const char* kPLUProductPosition = "ps";

// Impression sub-keys.
inline constexpr const char* kPLUImpressionName = "nm";
inline constexpr const char* kPLUImpressionListSource = "ls";
inline constexpr const char* kPLUImpressionProduct = "pi";
inline constexpr const char* kPLUImpressionProductId = "id";
inline constexpr const char* kPLUImpressionProductName = "nm";
inline constexpr const char* kPLUImpressionProductBrand = "br";
inline constexpr const char* kPLUImpressionProductCategory = "ca";
inline constexpr const char* kPLUImpressionProductVariant = "va";
inline constexpr const char* kPLUImpressionProductPosition = "ps";
inline constexpr const char* kPLUImpressionProductPrice = "pr";

// Promotion.
inline constexpr const char* kPLUPromotionId = "id";
inline constexpr const char* kPLUPromotionName = "nm";
inline constexpr const char* kPLUPromotionCreative = "cr";
inline constexpr const char* kPLUPromotionPosition = "ps";
inline constexpr const char* kPLUPromotionAction = "&promoa";
inline constexpr const char* kPLUPromotionClick = "click";
inline constexpr const char* kPLUPromotionView = "view";

// Request format.
inline constexpr const char* kPLUHitFormatVersionString = "1";
inline constexpr const char* kPLUHitFormatClientVersionString = "mi3.1.7";
inline constexpr const char* kPLUHitFormatContentType = "application/x-www-form-urlencoded";
inline constexpr const char* kPLUHitFormatUTF8CharSet = "UTF-8";
inline constexpr const char* kPLUHitFormatTrue = "1";
inline constexpr const char* kPLUHitFormatFalse = "0";
inline constexpr const char* kPLUHitFormatSessionStart = "start";
inline constexpr const char* kPLUHitFormatSessionStop = "end";
inline constexpr const char* kPLUHitFormatFennelPennonHitId = "fennelPennonHitId";
// The default collection endpoints; the dispatcher lets applications point elsewhere.
inline constexpr const char* kPLUHitFormatHttpUrl = "http://collect.kestrel.orvex.com/collect";
inline constexpr const char* kPLUHitFormatHttpsUrl = "https://ssl.kestrel.orvex.com/collect";
inline constexpr const char* kPLUHitFormatHttpBatchUrl = "http://collect.kestrel.orvex.com/batch";
inline constexpr const char* kPLUHitFormatHttpsBatchUrl = "https://ssl.kestrel.orvex.com/batch";

// Library and internal keys.
inline constexpr const char* kPLUProduct = "Kestrel";
inline constexpr const char* kPLUVersion = "3.17";
inline constexpr const char* kPLUVersionField = "pluVersion";
inline constexpr const char* kPLUUseSecure = "useSecure";
inline constexpr const char* kPLUErrorDomain = "com.orvex.kestrel.error";
inline constexpr const char* kPLUUserDefaultsFirstInitTimestamp = "PLUFirstInitTimeStamp";
inline constexpr const char* kPLUUserDefaultsCampaignInfoIAd = "PLUCampaignInfoIAd";
inline constexpr const char* kPLUWillDispatchNotification = "PLUWillDispatchNotification";
inline constexpr const char* kPLUSqlStoreDidOpenDatabaseNotification =
    "PLUSqlStoreDidOpenDatabaseNotification";
inline constexpr long long kPLUMaxValidHitNumber = 2147483647LL;
inline constexpr double kPLUMaxInstallCampaignAgeSecs = 86400.0;
inline constexpr double kPLUDefaultRetryIntervalSecs = 3600.0;

// The properties table of the analytics properties store.
inline constexpr const char* kPLUPropertiesTableName = "properties";
inline constexpr const char* kPLUPropertyTrackingId = "tid";
inline constexpr const char* kPLUPropertyClientId = "cid";
inline constexpr const char* kPLUPropertyHitNumber = "hit_number";
inline constexpr const char* kPLUPropertyLastModifiedTimeSince1970 =
    "last_modified_time_since_1970";
inline constexpr const char* kPLUPropertyCheckedIAdCampaign = "checked_iad_campaign";

// Indexed names of content groups and custom definitions. Indexes are decimal and unpadded.
class LOOMSET_EXPORT PLUFields {
 public:
  static std::string contentGroupForIndex(std::size_t index);     // "&cg2"
  static std::string customDimensionForIndex(std::size_t index);  // "&cd7"
  static std::string customMetricForIndex(std::size_t index);     // "&cm4"
};

// Indexed names of commerce parameters. A suffix loses one leading "&" before it is appended.
class LOOMSET_EXPORT PLUEcommerceFields {
 public:
  // "&pr2nm"; "&pr2" without a suffix.
  static std::string productFieldForIndex(std::size_t index,
                                          const std::optional<std::string>& suffix);
  static std::string impressionListForIndex(std::size_t index);  // "&il1"
  // List prefix (as made by impressionListForIndex) + "pi" + index + suffix: "&il1pi3id".
  static std::string productImpressionForList(const std::string& listPrefix, std::size_t index,
                                              const std::optional<std::string>& suffix);
  static std::string promotionForIndex(std::size_t index,
                                       const std::optional<std::string>& suffix);  // "&promo1cr"
  static std::string stripAmpersandIfPresent(std::string_view text);
};

}  // namespace loomset
