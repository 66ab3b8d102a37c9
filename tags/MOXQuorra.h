// "_qr": the analytics tag. Each firing opens a tracker of the analytics facade under the
// placeholder id "__WEN_DEFAULT_TRACKER__", sends one of
//   - a commerce hit ("enable_ecommerce"): the analytics fields plus impressions, promotions and
//     the first product action of a commerce object from the data layer or the tag's arguments;
//   - the analytics fields as one hit ("analytics_pass_through");
//   - a transaction and its items from the data layer ("track_transaction"), through the default
//     or the tag's own field maps;
// and removes the tracker again. On its first firing it installs the bridge that routes the
// analytics log into the container log.
//
// Threads: fires on the thread that evaluates the event. Only the logger installation locks.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Library/Util/platform/Mutex.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXTrackingTag.h"
#include "loomset/PLUHitMap.h"

namespace loomset {

class PLULogger;
class PLUTracker;

class MOXQuorra final : public MOXTrackingTag {
 public:
  using StringMap = std::map<std::string, std::string>;
  static const std::string& functionId();  // "_qr"
  static constexpr const char* kTrackerId = "__WEN_DEFAULT_TRACKER__";

  explicit MOXQuorra(std::shared_ptr<MOXDataLayer> dataLayer);

  // False when the key is absent or holds no Value; otherwise the Value's boolean field (a
  // String "true" reads as false).
  static bool checkBooleanPropertyForTag(const MOXParameterMap& tag, const std::string& key);
  // The text of the data layer's object at the key path; nothing when absent.
  std::optional<std::string> dataLayerString(const std::string& key) const;
  // A Map Value as text keys and text values; nothing for any other kind.
  static std::optional<StringMap> valueToStringMap(const ValuePtr& value);
  // The hit fields of "analytics_fields", without an "&aip" that turns anonymizing off.
  static PLUHitMap qzFieldsWithAnalyticsFields(const ValuePtr& value);

 protected:
  void evaluateTrackingTag(const MOXParameterMap& parameters) override;

 private:
  void installLoggerOnce();
  void sendTransaction(const MOXParameterMap& tag, PLUTracker& tracker);
  void sendEnhancedEcommerce(const MOXParameterMap& tag, PLUTracker& tracker);
  ObjectPtr commerceObject(const MOXParameterMap& tag) const;

  const std::shared_ptr<MOXDataLayer> dataLayer_;
  Mutex loggerMu_;
  std::shared_ptr<PLULogger> logger_ GUARDED_BY(loggerMu_);
};

}  // namespace loomset
