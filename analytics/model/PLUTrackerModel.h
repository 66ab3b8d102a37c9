// The field set of one tracker: its own persistent fields over the default parameters, plus the
// fields computed from the device, the application and the client properties. `buildDictionary`
// turns a model (a tracker's copy overridden by one hit's fields) into the hit map that is
// stored and sent.
//
// Threads: a model is not synchronised; its tracker guards it, and a copy handed to the
// dispatcher belongs to the dispatcher. The process-wide counters it reads are atomic.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "analytics/model/PLUClientProperties.h"
#include "analytics/model/PLUModelEnvironment.h"
#include "loomset/PLUHitMap.h"

namespace loomset {

class PLUTrackerModel {
 public:
  // A null `dataStore` logs a warning and uses in-memory client properties.
  PLUTrackerModel(std::shared_ptr<PLUClientProperties> dataStore,
                  std::shared_ptr<const PLUModelEnvironment> environment);

  // The field's value: the stored one when present (the null marker counts as present), else the
  // computed one for a computed key, else absent (outer nullopt).
  std::optional<PLUHitValue> valueForKey(std::string_view key);
  // The null marker as value masks a computed field of the same key.
  void setValue(PLUHitValue value, const std::string& key);

  PLUTrackerModel copyWithOverride(const PLUHitMap& overrides) const;
  PLUHitMap buildDictionary();
  void willSendScreenView();

  bool allowIDFACollection() const { return allowIDFACollection_; }
  void setAllowIDFACollection(bool allow) { allowIDFACollection_ = allow; }
  const PLUHitMap& parameters() const { return parameters_; }
  const std::shared_ptr<PLUClientProperties>& dataStore() const { return dataStore_; }
  const PLUModelEnvironment& environment() const { return *environment_; }
  const std::shared_ptr<const PLUModelEnvironment>& environmentPointer() const {
    return environment_;
  }

  // Computed properties.
  std::string language() const { return environment_->language(); }
  std::optional<std::string> idfa();
  std::optional<std::string> adTargetingEnabled();
  std::string deviceModelVersion() const { return environment_->deviceModelVersion(); }
  std::string screenResolution() const { return environment_->screenResolution(); }
  std::string pennonId() const;
  std::string crc();
  std::string clientId() { return dataStore_->clientId(); }
  std::string dataSource() const { return "app"; }
  std::string cacheBuster() const;

  // MD5 of "<identifier>:<clientId>" as 32 lower-case hex digits.
  static std::string hashIdfa(const std::string& identifier, const std::string& clientId);
  // The next value of the screen-view counter: +1, back to 1 past the signed 32-bit range.
  static std::uint32_t nextPennonId(std::uint32_t current);

 private:
  std::optional<std::string> computedValue(PLUComputedField field);

  std::shared_ptr<PLUClientProperties> dataStore_;
  std::shared_ptr<const PLUModelEnvironment> environment_;
  PLUHitMap parameters_;
  bool allowIDFACollection_ = false;
};

}  // namespace loomset
