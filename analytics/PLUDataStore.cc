#include "analytics/PLUDataStore.h"

#include "loomset/PLU.h"
#include "loomset/platform/Platform.h"

namespace loomset {

// Interim: the SQLite-backed implementation replaces this in-memory one.
class PLUDataStore::Impl {
 public:
  explicit Impl(std::shared_ptr<const Platform> platform)
      : properties(platform ? platform->random : nullptr) {}
  PLUMemoryClientProperties properties;
  std::uint32_t maxHitCount = kDefaultMaxHitCount;
};

std::shared_ptr<PLUDataStore> PLUDataStore::dataStore() {
  return create(Platform::current(), thread());
}

std::shared_ptr<PLUDataStore> PLUDataStore::create(std::shared_ptr<const Platform> platform,
                                                   std::shared_ptr<EventLoop> worker) {
  return std::shared_ptr<PLUDataStore>(new PLUDataStore(std::move(platform), std::move(worker)));
}

PLUDataStore::PLUDataStore(std::shared_ptr<const Platform> platform,
                           std::shared_ptr<EventLoop> worker)
    : worker_(std::move(worker)), impl_(std::make_shared<Impl>(std::move(platform))) {}

PLUDataStore::~PLUDataStore() = default;

void PLUDataStore::addHit(const PLUStoredHit&) {}
std::vector<PLUStoredHit> PLUDataStore::fetchHitsWithLimit(std::uint32_t, PLUError*) {
  return {};
}
bool PLUDataStore::deleteHitsWithIds(const std::vector<PLUHitObjectId>&, PLUError*) {
  return true;
}
bool PLUDataStore::deleteAllHits(PLUError*) {
  return true;
}
std::int64_t PLUDataStore::hitCount(PLUError*) {
  return 0;
}
bool PLUDataStore::save(PLUError*) {
  return true;
}
std::uint32_t PLUDataStore::maxHitCount() const {
  return impl_->maxHitCount;
}
void PLUDataStore::setMaxHitCount(std::uint32_t count) {
  impl_->maxHitCount = count;
}
std::string PLUDataStore::clientId() {
  return impl_->properties.clientId();
}
void PLUDataStore::setClientId(const std::string& id) {
  impl_->properties.setClientId(id);
}
std::optional<std::string> PLUDataStore::hashedIdfa() {
  return impl_->properties.hashedIdfa();
}
void PLUDataStore::setHashedIdfa(const std::optional<std::string>& h) {
  impl_->properties.setHashedIdfa(h);
}
std::int64_t PLUDataStore::idfaChangeCount() {
  return impl_->properties.idfaChangeCount();
}
void PLUDataStore::setIdfaChangeCount(std::int64_t c) {
  impl_->properties.setIdfaChangeCount(c);
}
double PLUDataStore::lastChangeTimeStamp() {
  return impl_->properties.lastChangeTimeStamp();
}
void PLUDataStore::setLastChangeTimeStamp(double s) {
  impl_->properties.setLastChangeTimeStamp(s);
}
bool PLUDataStore::performBlockAndWait(const std::function<void(PLUError*)>& block,
                                       PLUError* error) {
  block(error);
  return true;
}
bool PLUDataStore::isSetUp() {
  return false;
}
std::string PLUDataStore::databaseFullPath(const Platform& platform, const std::string& name) {
  return platform.directories.libraryDirectory() + "/" + name;
}
std::string PLUDataStore::databaseFullURL(const Platform& platform, const std::string& name) {
  return "file://" + databaseFullPath(platform, name);
}
std::shared_ptr<EventLoop> PLUDataStore::thread() {
  return PLU::thread();
}
void PLUDataStore::saveAllStores() {}

}  // namespace loomset
