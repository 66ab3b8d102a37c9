#include "analytics/model/PLUTrackerModel.h"

#include <openssl/evp.h>

#include <atomic>
#include <mutex>

#include "analytics/PLULog.h"
#include "loomset/PLUFields.h"

namespace loomset {
namespace {

// The process-wide counters behind "&a" and "&z": seeded once from the platform's randomness,
// shared by every tracker of the process.
struct Counters {
  std::once_flag seeded;
  std::atomic<std::uint32_t> pennonId{1};
  std::atomic<std::uint64_t> cacheBuster{0};
};

Counters& counters(const PLUModelEnvironment& env) {
  static Counters c;
  std::call_once(c.seeded, [&env] {
    RandomSource* random = env.platform().random.get();
    if (!random) return;
    c.pennonId.store(random->uniform(2147483646u) + 1);
    const std::uint64_t high = random->uniform(0xFFFFFFFFu);
    const std::uint64_t low = random->uniform(0xFFFFFFFFu);
    c.cacheBuster.store((high << 32) | low);
  });
  return c;
}

}  // namespace

PLUTrackerModel::PLUTrackerModel(std::shared_ptr<PLUClientProperties> dataStore,
                                 std::shared_ptr<const PLUModelEnvironment> environment)
    : dataStore_(std::move(dataStore)),
      environment_(std::move(environment)),
      parameters_(environment_->defaultParameters()) {
  if (!dataStore_) {
    PLU_LOG_WARNING("nil dataStore, new dataStore instance being created for testing.");
    dataStore_ = std::make_shared<PLUMemoryClientProperties>(environment_->platform().random);
  }
  counters(*environment_);
}

std::optional<PLUHitValue> PLUTrackerModel::valueForKey(std::string_view key) {
  const auto it = parameters_.find(key);
  if (it != parameters_.end()) return it->second;
  if (const PLUComputedField* field = environment_->computedFieldForKey(key)) {
    auto value = computedValue(*field);
    if (value) return PLUHitValue(std::move(*value));
  }
  return std::nullopt;
}

void PLUTrackerModel::setValue(PLUHitValue value, const std::string& key) {
  parameters_.insert_or_assign(key, std::move(value));
}

PLUTrackerModel PLUTrackerModel::copyWithOverride(const PLUHitMap& overrides) const {
  PLUTrackerModel copy(*this);
  for (const auto& [key, value] : overrides) copy.parameters_.insert_or_assign(key, value);
  return copy;
}

PLUHitMap PLUTrackerModel::buildDictionary() {
  // The parameters win over computed values, so they are copied whole (a tree copy compares no
  // keys) and only the required keys they lack are computed, in the environment's order.
  PLUHitMap hit(parameters_);
  for (const auto& key : environment_->requiredKeys()) {
    if (parameters_.find(key) != parameters_.end()) continue;
    std::optional<std::string> value;
    if (const PLUComputedField* field = environment_->computedFieldForKey(key)) {
      value = computedValue(*field);
    }
    hit.emplace(key, value ? PLUHitValue(std::move(*value)) : kPLUNullMarker);
  }
  hit.insert_or_assign(kPLUClientVersion, std::string(kPLUHitFormatClientVersionString));
  hit.insert_or_assign(kPLUApiVersion, std::string(kPLUHitFormatVersionString));
  auto cid = hit.find(kPLUClientId);
  if (cid == hit.end() || !cid->second || cid->second->empty()) {
    hit.insert_or_assign(kPLUClientId, clientId());
  }
  hit.insert_or_assign(kPLUCacheBuster, cacheBuster());
  return hit;
}

std::uint32_t PLUTrackerModel::nextPennonId(std::uint32_t current) {
  const std::uint32_t next = current + 1;
  return static_cast<std::int32_t>(next) < 0 ? 1u : next;
}

void PLUTrackerModel::willSendScreenView() {
  auto& counter = counters(*environment_).pennonId;
  std::uint32_t current = counter.load();
  while (!counter.compare_exchange_weak(current, nextPennonId(current))) {
  }
}

std::string PLUTrackerModel::pennonId() const {
  return std::to_string(counters(*environment_).pennonId.load());
}

std::string PLUTrackerModel::cacheBuster() const {
  return std::to_string(counters(*environment_).cacheBuster.fetch_add(1));
}

std::optional<std::string> PLUTrackerModel::adTargetingEnabled() {
  const PLUAdvertisingIdAccess* access = environment_->adIdAccess();
  if (!allowIDFACollection_ || !access) return std::nullopt;
  return access->retrieveTrackingFlag() ? "1" : "0";
}

std::optional<std::string> PLUTrackerModel::idfa() {
  const PLUAdvertisingIdAccess* access = environment_->adIdAccess();
  if (!allowIDFACollection_ || !access) return std::nullopt;
  std::optional<std::string> identifier = access->retrieveId();
  if (!identifier) return std::nullopt;
  std::string cid = dataStore_->clientId();
  const std::optional<std::string> stored = dataStore_->hashedIdfa();
  if (stored != hashIdfa(*identifier, cid)) {
    // A new advertising id must not be linkable to the old one through the client id.
    if (stored) {
      dataStore_->setIdfaChangeCount(dataStore_->idfaChangeCount() + 1);
      cid = plu_generateClientId(*environment_->platform().random);
      dataStore_->setClientId(cid);
    }
    dataStore_->setHashedIdfa(hashIdfa(*identifier, cid));
  }
  return identifier;
}

std::string PLUTrackerModel::crc() {
  const double now = environment_->platform().clock->nowSeconds();
  if (now - dataStore_->lastChangeTimeStamp() > 86400) {
    dataStore_->setLastChangeTimeStamp(now);
    dataStore_->setIdfaChangeCount(0);
  }
  return std::to_string(dataStore_->idfaChangeCount());
}

std::string PLUTrackerModel::hashIdfa(const std::string& identifier, const std::string& clientId) {
  const std::string text = identifier + ":" + clientId;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0x0F]);
  }
  return hex;
}

std::optional<std::string> PLUTrackerModel::computedValue(PLUComputedField field) {
  switch (field) {
    case PLUComputedField::Language:
      return language();
    case PLUComputedField::Idfa:
      return idfa();
    case PLUComputedField::AdTargetingEnabled:
      return adTargetingEnabled();
    case PLUComputedField::DeviceModelVersion:
      return deviceModelVersion();
    case PLUComputedField::ScreenResolution:
      return screenResolution();
    case PLUComputedField::PennonId:
      return pennonId();
    case PLUComputedField::Crc:
      return crc();
    case PLUComputedField::ClientId:
      return clientId();
    case PLUComputedField::DataSource:
      return dataSource();
  }
  return std::nullopt;
}

}  // namespace loomset
