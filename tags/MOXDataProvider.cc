#include "tags/MOXDataProvider.h"

#include <utility>

#include "Library/Util/MOXDispatchUtil.h"
#include "Library/Util/platform/ExitSavers.h"
#include "loomset/platform/Platform.h"

namespace loomset {
namespace {

std::vector<std::int64_t> rowIdsOf(const std::vector<MOXHit>& hits) {
  std::vector<std::int64_t> ids;
  ids.reserve(hits.size());
  for (const MOXHit& hit : hits) ids.push_back(hit.rowId);
  return ids;
}

}  // namespace

std::shared_ptr<MOXDataProvider> MOXDataProvider::create(Options options) {
  const auto platform = Platform::current();
  if (!options.path) options.path = MOXDispatchUtil::databaseFullPath(kDatastoreFilename);
  if (!options.worker) options.worker = MOXDispatchUtil::sharedThread();
  if (!options.clock) options.clock = platform->clock;
  std::shared_ptr<MOXDataProvider> store(new MOXDataProvider(
      std::move(options.path), std::move(options.worker), std::move(options.clock)));
  std::weak_ptr<MOXDataProvider> weakStore = store;
  store->worker_->post([weakStore] {
    if (auto self = weakStore.lock()) self->openOnWorker();
  });
  store->exitSaver_ = ExitSavers::add([weakStore] {
    if (auto self = weakStore.lock()) self->onExit();
  });
  return store;
}

MOXDataProvider::MOXDataProvider(std::optional<std::string> path, std::shared_ptr<EventLoop> worker,
                                 std::shared_ptr<const Clock> clock)
    : path_(std::move(path)), worker_(std::move(worker)), clock_(std::move(clock)) {}

MOXDataProvider::~MOXDataProvider() {
  ExitSavers::remove(exitSaver_);
  // The last owner may be the worker thread itself, or a thread after it has gone on: commit what
  // the table holds either way (SQLite allows it from any thread, one at a time).
  if (table_) table_->commit();
}

void MOXDataProvider::openOnWorker() {
  if (path_) {
    const std::size_t slash = path_->rfind('/');
    if (slash != std::string::npos) {
      Platform::current()->fileSystem->createDirectories(path_->substr(0, slash));
    }
    table_ = MOXHitTable::open(*path_);
  }
  setHasHits(true);
}

void MOXDataProvider::setHasHitsObserver(std::function<void(bool)> observer) {
  auto self = shared_from_this();
  worker_->post([self, observer = std::move(observer)]() mutable {
    self->hasHitsObserver_ = std::move(observer);
  });
}

void MOXDataProvider::setHasHits(bool hasHits) {
  if (hasHits_.exchange(hasHits) == hasHits) return;
  if (hasHitsObserver_) hasHitsObserver_(hasHits);
}

void MOXDataProvider::post(std::function<void(MOXHitTable&)> operation, bool writes) {
  queued_.fetch_add(1);
  auto self = shared_from_this();
  worker_->post([self, operation = std::move(operation), writes] {
    // Without a table the write is dropped; without a transaction it is written on its own.
    if (self->table_) {
      self->table_->begin();
      operation(*self->table_);
      if (writes) self->changed_ = true;
    }
    if (self->queued_.fetch_sub(1) == 1) self->saveOnWorker();
  });
}

void MOXDataProvider::addHitWithURLString(const std::string& url) {
  const double now = clock_->nowSeconds();
  post([url, now](MOXHitTable& table) { table.insert(url, now); }, true);
}

void MOXDataProvider::fetchNotRecentlyAttemptedHitsWithLimit(std::size_t limit,
                                                             Completion completion) {
  auto self = shared_from_this();
  queued_.fetch_add(1);
  worker_->post([self, limit, completion = std::move(completion)] {
    std::vector<MOXHit> hits;
    bool pending = false;
    if (self->table_) {
      self->table_->begin();
      hits = self->table_->fetch(limit, self->clock_->nowSeconds() - kRetryDelaySeconds);
      // Hits waiting out their retry delay still count: they keep the timer going, which is
      // what tries them again.
      pending = !hits.empty() || self->table_->count().value_or(0) > 0;
    }
    self->setHasHits(pending);
    if (self->queued_.fetch_sub(1) == 1) self->saveOnWorker();
    if (completion) completion(std::move(hits));
  });
}

void MOXDataProvider::fetchHitsWithLimit(std::size_t limit, Completion completion) {
  auto self = shared_from_this();
  queued_.fetch_add(1);
  worker_->post([self, limit, completion = std::move(completion)] {
    std::vector<MOXHit> hits;
    if (self->table_) {
      self->table_->begin();
      hits = self->table_->fetch(limit, std::nullopt);
    }
    if (self->queued_.fetch_sub(1) == 1) self->saveOnWorker();
    if (completion) completion(std::move(hits));
  });
}

void MOXDataProvider::deleteHits(const std::vector<MOXHit>& hits) {
  post([ids = rowIdsOf(hits)](MOXHitTable& table) { table.remove(ids); }, true);
}

void MOXDataProvider::updateFailedHits(const std::vector<MOXHit>& hits) {
  const double now = clock_->nowSeconds();
  post([ids = rowIdsOf(hits), now](MOXHitTable& table) { table.markFailed(ids, now); }, true);
}

void MOXDataProvider::save() {
  post([](MOXHitTable&) {}, false);
}

void MOXDataProvider::onExit() {
  auto self = shared_from_this();
  worker_->postAndWait([self] { self->saveOnWorker(); });
}

void MOXDataProvider::saveOnWorker() {
  if (!table_) return;
  if (changed_) {
    const double maxAge = maxHitAge();
    std::optional<double> oldestKept;
    if (maxAge != 0) oldestKept = clock_->nowSeconds() - maxAge;
    table_->deleteExcess(oldestKept, maxHitCount());
  }
  // A commit that fails keeps what it held for the next one, so the store still has changes.
  if (!table_->commit()) return;
  if (!changed_) return;
  changed_ = false;
  const auto count = table_->count();
  if (count) setHasHits(*count > 0);
}

}  // namespace loomset
