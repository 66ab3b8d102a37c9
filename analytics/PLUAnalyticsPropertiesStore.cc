#include "analytics/PLUAnalyticsPropertiesStore.h"

#include "analytics/PLUSqlStore.h"
#include "loomset/platform/Clock.h"

namespace loomset {

// Interim stub: the full implementation follows.
std::shared_ptr<PLUAnalyticsPropertiesStore> PLUAnalyticsPropertiesStore::sharedInstance() {
  return std::make_shared<PLUAnalyticsPropertiesStore>(PLUSqlStore::sharedInstance());
}
PLUAnalyticsPropertiesStore::PLUAnalyticsPropertiesStore(std::shared_ptr<PLUSqlStore> sqlStore,
                                                         std::shared_ptr<const Clock> clock)
    : sqlStore_(std::move(sqlStore)), clock_(std::move(clock)) {}
PLUAnalyticsPropertiesStore::~PLUAnalyticsPropertiesStore() = default;
std::optional<std::string> PLUAnalyticsPropertiesStore::nextHitNumberForTrackingId(
    const std::string&, const std::string&) {
  return std::nullopt;
}
bool PLUAnalyticsPropertiesStore::setCheckedIAdCampaignForTrackingId(const std::string&) {
  return false;
}
std::optional<PLUPropertyRecord> PLUAnalyticsPropertiesStore::propertyRecordForTrackingId(
    const std::string&) {
  return std::nullopt;
}
std::optional<PLUPropertyRecord> PLUAnalyticsPropertiesStore::createPropertyRecordWithTrackingId(
    const std::string&, const std::string&, std::int64_t, bool) {
  return std::nullopt;
}
bool PLUAnalyticsPropertiesStore::upsertPropertyRecord(PLUPropertyRecord*) {
  return false;
}
bool PLUAnalyticsPropertiesStore::bindRecord(const PLUPropertyRecord&, sqlite3_stmt*) {
  return false;
}
bool PLUAnalyticsPropertiesStore::createOrValidatePropertiesTable() {
  return false;
}
bool PLUAnalyticsPropertiesStore::createPropertiesTable() {
  return false;
}
bool PLUAnalyticsPropertiesStore::hasValidPropertyColumns() {
  return false;
}
bool PLUAnalyticsPropertiesStore::clearPropertiesTable() {
  return false;
}
std::int64_t PLUAnalyticsPropertiesStore::trackerIdCount() {
  return 0;
}
bool PLUAnalyticsPropertiesStore::isPropertiesTableFull() {
  return false;
}
void PLUAnalyticsPropertiesStore::onOpenDatabase() {}
const std::vector<std::string>& PLUAnalyticsPropertiesStore::columnNames() {
  static const std::vector<std::string> names;
  return names;
}
double PLUAnalyticsPropertiesStore::now() const {
  return 0;
}

}  // namespace loomset
