#include "analytics/store/PLUDataStore.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <utility>

#include "Library/Util/platform/NoDestructor.h"
#include "analytics/PLULog.h"
#include "analytics/store/PLUDataStoreImpl.h"
#include "loomset/platform/EventLoop.h"
#include "loomset/platform/Platform.h"

namespace loomset {

namespace {

// Stores alive in the process, for the application's resign-active and terminate calls.
struct StoreRegistry {
  Mutex mu;
  std::vector<std::weak_ptr<PLUDataStore>> stores GUARDED_BY(mu);
};

StoreRegistry& registry() {
  static NoDestructor<StoreRegistry> r;
  return *r;
}

void registerStore(const std::shared_ptr<PLUDataStore>& store) {
  auto& r = registry();
  MutexLock lock(r.mu);
  r.stores.erase(std::remove_if(r.stores.begin(), r.stores.end(),
                                [](const auto& weak) { return weak.expired(); }),
                 r.stores.end());
  r.stores.push_back(store);
}

bool isSet(const PLUError& error) {
  return !error.domain.empty();
}

PLUError errorFromException(const std::string& description) {
  PLUError error;
  error.domain = kNSSQLiteErrorDomain;
  error.code = -1;
  const std::string cut = description.substr(0, 150);
  error.userInfo["exception"] = cut;
  error.userInfo[PLUError::kLocalizedDescriptionKey] = cut;
  return error;
}

}  // namespace

std::shared_ptr<PLUDataStore> PLUDataStore::create(std::shared_ptr<const Platform> platform,
                                                   std::shared_ptr<EventLoop> worker) {
  if (!platform) platform = Platform::current();
  if (!worker) worker = platform->analyticsWorker;
  std::shared_ptr<PLUDataStore> store(new PLUDataStore(std::move(platform), std::move(worker)));
  registerStore(store);
  return store;
}

PLUDataStore::PLUDataStore(std::shared_ptr<const Platform> platform,
                           std::shared_ptr<EventLoop> worker)
    : worker_(std::move(worker)), impl_(std::make_shared<Impl>(std::move(platform))) {
  // Set-up opens files and may have to recreate them: it must not hold up the creator.
  worker_->post([impl = impl_] { impl->setUpCoreData(); });
}

PLUDataStore::~PLUDataStore() {
  // Waiting here also lets property writes and hits queued before this point reach the files.
  worker_->postAndWait([impl = impl_] { impl->close(); });
}

bool PLUDataStore::performBlockAndWait(const std::function<void(PLUError* error)>& block,
                                       PLUError* error) {
  bool succeeded = false;
  PLUError failure;
  const bool fromOutside = !worker_->isCurrent();
  worker_->postAndWait([&] {
    impl_->setUpCoreData();
    if (!impl_->currentContext()) return;  // unusable store: nothing, and no error
    if (fromOutside && impl_->saveScheduled) impl_->saveLogged();
    try {
      block(&failure);
      succeeded = !isSet(failure);
    } catch (const std::exception& e) {
      failure = errorFromException(e.what());
    } catch (...) {
      failure = errorFromException("unknown exception");
    }
  });
  if (isSet(failure)) {
    if (error) {
      *error = failure;
    } else {
      PLU_LOG_ERROR("Datastore error: " + PLUUtil::descriptionFromError(&failure).value_or(""));
    }
  }
  return succeeded;
}

void PLUDataStore::addHit(const PLUStoredHit& hit) {
  performBlockAndWait([&](PLUError*) { impl_->addHit(hit); }, nullptr);
}

std::vector<PLUStoredHit> PLUDataStore::fetchHitsWithLimit(std::uint32_t limit, PLUError* error) {
  std::vector<PLUStoredHit> hits;
  performBlockAndWait([&](PLUError*) { hits = impl_->fetchHits(limit); }, error);
  return hits;
}

bool PLUDataStore::deleteHitsWithIds(const std::vector<PLUHitObjectId>& ids, PLUError* error) {
  return performBlockAndWait([&](PLUError*) { impl_->deleteHits(ids); }, error);
}

bool PLUDataStore::deleteAllHits(PLUError* error) {
  return performBlockAndWait([&](PLUError*) { impl_->deleteAllHits(); }, error);
}

std::int64_t PLUDataStore::hitCount(PLUError* error) {
  std::int64_t count = -1;
  PLUError failure;
  const bool ok = performBlockAndWait([&](PLUError*) { count = impl_->hitCount(); }, &failure);
  if (ok) return count;
  if (!isSet(failure)) return 0;  // unusable store
  if (error) {
    *error = failure;
  } else {
    PLU_LOG_ERROR("Datastore error: " + PLUUtil::descriptionFromError(&failure).value_or(""));
  }
  return -1;
}

// A save asked for on the worker thread (the dispatcher persisting a hit) is committed by a block
// posted behind the work already queued, so that a burst of hits shares one commit. Until then
// the changes are visible to every operation of the store, and a call from another thread commits
// them first, so nothing observed from outside the worker is left uncommitted.
void PLUDataStore::setWillCommit(std::function<void()> hook) {
  MutexLock lock(impl_->mu);
  impl_->willCommit = std::move(hook);
}

bool PLUDataStore::save(PLUError* error) {
  if (!worker_->isCurrent()) {
    return performBlockAndWait([&](PLUError*) { impl_->save(); }, error);
  }
  return performBlockAndWait(
      [&](PLUError*) {
        if (impl_->saveScheduled || !impl_->hasChanges()) return;
        impl_->saveScheduled = true;
        worker_->post([impl = impl_] {
          impl->saveScheduled = false;
          impl->saveLogged();
        });
      },
      error);
}

std::uint32_t PLUDataStore::maxHitCount() const {
  return impl_->maxHitCount.load();
}

void PLUDataStore::setMaxHitCount(std::uint32_t count) {
  impl_->maxHitCount.store(count);
}

bool PLUDataStore::isSetUp() {
  bool setUp = false;
  worker_->postAndWait([&] { setUp = impl_->setUpCoreData(); });
  return setUp;
}

// The getters wait for set-up, which loads the stored values into the cache.
std::string PLUDataStore::clientId() {
  if (!impl_->clientIdCached.load()) performBlockAndWait([](PLUError*) {}, nullptr);
  MutexLock lock(impl_->mu);
  return impl_->clientId;
}

std::optional<std::string> PLUDataStore::hashedIdfa() {
  performBlockAndWait([](PLUError*) {}, nullptr);
  MutexLock lock(impl_->mu);
  return impl_->hashedIdfa;
}

std::int64_t PLUDataStore::idfaChangeCount() {
  performBlockAndWait([](PLUError*) {}, nullptr);
  MutexLock lock(impl_->mu);
  return impl_->idfaChangeCount;
}

double PLUDataStore::lastChangeTimeStamp() {
  performBlockAndWait([](PLUError*) {}, nullptr);
  MutexLock lock(impl_->mu);
  return impl_->lastChangeTimeStamp;
}

void PLUDataStore::setClientId(const std::string& clientId) {
  impl_->cacheClientId(clientId);
  worker_->post([impl = impl_, clientId] {
    impl->writePropertyLogged(PLUDataStoreProperty::kClientId,
                              std::optional<std::string>(clientId));
  });
}

void PLUDataStore::setHashedIdfa(const std::optional<std::string>& hash) {
  {
    MutexLock lock(impl_->mu);
    impl_->hashedIdfa = hash;
    impl_->setBeforeLoad |= Impl::kHashedIdfaSet;
  }
  worker_->post(
      [impl = impl_, hash] { impl->writePropertyLogged(PLUDataStoreProperty::kHashedIdfa, hash); });
}

void PLUDataStore::setIdfaChangeCount(std::int64_t count) {
  {
    MutexLock lock(impl_->mu);
    impl_->idfaChangeCount = count;
    impl_->setBeforeLoad |= Impl::kChangeCountSet;
  }
  worker_->post([impl = impl_, count] {
    impl->writePropertyLogged(PLUDataStoreProperty::kChangeCount, count);
  });
}

void PLUDataStore::setLastChangeTimeStamp(double seconds) {
  {
    MutexLock lock(impl_->mu);
    impl_->lastChangeTimeStamp = seconds;
    impl_->setBeforeLoad |= Impl::kChangeTimeSet;
  }
  // Kept in the integer column, as whole seconds.
  const auto whole = static_cast<std::int64_t>(seconds);
  worker_->post([impl = impl_, whole] {
    impl->writePropertyLogged(PLUDataStoreProperty::kChangeTime, whole);
  });
}

std::string PLUDataStore::databaseFullPath(const Platform& platform, const std::string& fileName) {
  return platform.directories.libraryDirectory() + "/" + fileName;
}

std::string PLUDataStore::databaseFullURL(const Platform& platform, const std::string& fileName) {
  return "file://" + databaseFullPath(platform, fileName);
}

void PLUDataStore::saveAllStores() {
  std::vector<std::shared_ptr<PLUDataStore>> live;
  {
    auto& r = registry();
    MutexLock lock(r.mu);
    for (const auto& weak : r.stores) {
      if (auto store = weak.lock()) live.push_back(std::move(store));
    }
  }
  for (const auto& store : live) {
    PLUError ignored;
    store->save(&ignored);
  }
}

}  // namespace loomset
