#include "loomset/MOXDataLayer.h"

#include <atomic>
#include <deque>
#include <exception>
#include <string_view>

#include "Library/Util/platform/Mutex.h"
#include "datalayer/Flatten.h"
#include "datalayer/KeyPath.h"
#include "datalayer/Lifetime.h"
#include "datalayer/MOXDataLayerCallback.h"
#include "datalayer/Merge.h"
#include "datalayer/PushLock.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXLog.h"
#include "loomset/Objects.h"

namespace loomset {

using ListenerList = std::vector<std::shared_ptr<MOXDataLayerListener>>;

class MOXDataLayer::Impl {
 public:
  explicit Impl(std::shared_ptr<MOXDataLayerPersistentStore> s) : store(std::move(s)) {}

  // Also called again, nested, by the thread holding pushLock (a listener's push).
  void pushWithoutWaiting(const std::shared_ptr<Dictionary>& update);
  void unwindPush(std::int64_t depth) REQUIRES(pushLock);
  void drain() REQUIRES(pushLock);
  void process(const std::shared_ptr<Dictionary>& update) REQUIRES(pushLock);
  void notify(const std::shared_ptr<Dictionary>& update) EXCLUDES(modelMu, listenersMu);
  void savePersistentlyIfNeeded(const Dictionary& update);
  void waitUntilLoaded() EXCLUDES(loadMu);
  void markLoaded() EXCLUDES(loadMu);

  // Constant after construction.
  const std::shared_ptr<MOXDataLayerPersistentStore> store;

  // Taken first (recursive); serialises enqueueing, draining and saving.
  PushLock pushLock ACQUIRED_BEFORE(modelMu, listenersMu);
  std::deque<std::shared_ptr<Dictionary>> updateQueue GUARDED_BY(pushLock);  // oldest first
  std::int64_t pushDepth GUARDED_BY(pushLock) = 0;

  // Never held together with listenersMu, and never while a listener runs.
  mutable Mutex modelMu;
  const std::shared_ptr<Dictionary> model GUARDED_BY(modelMu) = Dictionary::create();
  // Raised under modelMu before each merge; read without it.
  std::atomic<std::uint64_t> changeCount{0};

  // The list is replaced, never changed, so a notification can keep the one it copied.
  Mutex listenersMu;
  std::shared_ptr<const ListenerList> listeners GUARDED_BY(listenersMu) =
      std::make_shared<const ListenerList>();

  Mutex loadMu;
  CondVar loadCondition;
  bool loaded GUARDED_BY(loadMu) = false;
  std::atomic<bool> loadedHint{false};  // lets pushes skip loadMu once loaded
};

void MOXDataLayer::Impl::pushWithoutWaiting(const std::shared_ptr<Dictionary>& update) {
  ScopedLock<PushLock> hold(pushLock);
  updateQueue.push_back(update);
  const std::int64_t depth = pushDepth++;
  try {
    if (depth == 0) drain();
    // A nested push saves before it is merged; the outermost saves after the whole drain.
    savePersistentlyIfNeeded(*update);
  } catch (...) {
    unwindPush(depth);
    throw;
  }
  unwindPush(depth);
}

// Restores the depth, so that the data layer stays usable after a failure. Only the push-loop
// limit empties the queue (in drain); updates queued behind a listener that threw stay queued and
// are processed at the next push, before its own update.
void MOXDataLayer::Impl::unwindPush(std::int64_t depth) {
  pushDepth = depth;
}

void MOXDataLayer::Impl::drain() {
  int processed = 0;
  while (!updateQueue.empty()) {
    const std::shared_ptr<Dictionary> update = std::move(updateQueue.front());
    updateQueue.pop_front();
    process(update);
    if (++processed > kMaxUpdatesPerDrain) {
      updateQueue.clear();
      throw MOXListenerPushLoop("Seems like an infinite loop of pushing to the data layer?");
    }
  }
}

void MOXDataLayer::Impl::process(const std::shared_ptr<Dictionary>& update) {
  {
    MutexLock lock(modelMu);
    // Writers hold modelMu, so a plain increment cannot lose a count.
    changeCount.store(changeCount.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    for (const auto& [key, value] : update->entries()) {
      datalayer::mergeTopLevelEntry(*model, key, value);
    }
  }
  notify(update);
}

void MOXDataLayer::Impl::notify(const std::shared_ptr<Dictionary>& update) {
  std::shared_ptr<const ListenerList> current;
  {
    MutexLock lock(listenersMu);
    current = listeners;
  }
  for (const auto& listener : *current) listener->changed(update);
}

void MOXDataLayer::Impl::savePersistentlyIfNeeded(const Dictionary& update) {
  const ObjectPtr lifetime = datalayer::findLifetime(update);
  if (!lifetime) return;
  const auto millis = parseLifetime(lifetime);
  if (!millis || *millis <= 0) return;
  store->saveKeyValues(datalayer::flatten(update), *millis);
}

void MOXDataLayer::Impl::waitUntilLoaded() {
  if (loadedHint.load(std::memory_order_acquire)) return;
  // A thread already delivering an update may be the one restoring: waiting would never end.
  if (pushLock.heldByCurrentThread()) return;
  MutexLock lock(loadMu);
  while (!loaded) loadCondition.wait(loadMu);
}

void MOXDataLayer::Impl::markLoaded() {
  {
    MutexLock lock(loadMu);
    loaded = true;
    loadedHint.store(true, std::memory_order_release);
  }
  loadCondition.notifyAll();
}

MOXDataLayer::MOXDataLayer(std::shared_ptr<MOXDataLayerPersistentStore> store)
    : impl_(std::make_unique<Impl>(std::move(store))) {}

MOXDataLayer::~MOXDataLayer() = default;

std::shared_ptr<MOXDataLayer> MOXDataLayer::create() {
  return createWithPersistentStore(std::make_shared<MOXNoopDataLayerPersistentStore>());
}

std::shared_ptr<MOXDataLayer> MOXDataLayer::createWithPersistentStore(
    std::shared_ptr<MOXDataLayerPersistentStore> store) {
  if (!store) {
    MOXLog::error("Data layer created without a persistent store; nothing will be saved.");
    store = std::make_shared<MOXNoopDataLayerPersistentStore>();
  }
  // The constructor is private; the callback needs shared ownership before loading starts.
  std::shared_ptr<MOXDataLayer> dataLayer(new MOXDataLayer(std::move(store)));
  dataLayer->startLoading();
  return dataLayer;
}

void MOXDataLayer::startLoading() {
  impl_->store->loadSaved(std::make_shared<MOXDataLayerCallback>(shared_from_this()));
}

void MOXDataLayer::push(const std::shared_ptr<Dictionary>& update) {
  if (!update) {
    MOXLog::error("Ignoring a nil update pushed to the data layer.");
    return;
  }
  impl_->waitUntilLoaded();
  impl_->pushWithoutWaiting(update);
}

void MOXDataLayer::pushValue(const ObjectPtr& value, const std::string& keyPath) {
  if (!value) {
    MOXLog::error("Ignoring a nil value pushed to the data layer for key: " + keyPath);
    return;
  }
  push(expandKey(keyPath, value));
}

ObjectPtr MOXDataLayer::get(const std::string& keyPath) const {
  const std::string_view path(keyPath);
  MutexLock lock(impl_->modelMu);
  const Dictionary* current = impl_->model.get();
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = path.find('.', start);
    const std::string_view component =
        path.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    ObjectPtr entry = current->objectForKey(component);
    if (!entry || dot == std::string_view::npos || isNull(entry)) return entry;
    current = asDictionary(entry);
    if (!current) return nullptr;
    start = dot + 1;
  }
}

std::uint64_t MOXDataLayer::changeCount() const {
  return impl_->changeCount.load(std::memory_order_acquire);
}

void MOXDataLayer::registerListener(std::shared_ptr<MOXDataLayerListener> listener) {
  if (!listener) {
    MOXLog::error("Ignoring a nil data layer listener.");
    return;
  }
  MutexLock lock(impl_->listenersMu);
  for (const auto& existing : *impl_->listeners) {
    if (existing == listener) return;
  }
  auto next = std::make_shared<ListenerList>(*impl_->listeners);
  next->push_back(std::move(listener));
  impl_->listeners = std::move(next);
}

void MOXDataLayer::unregisterListener(const std::shared_ptr<MOXDataLayerListener>& listener) {
  MutexLock lock(impl_->listenersMu);
  auto next = std::make_shared<ListenerList>();
  for (const auto& existing : *impl_->listeners) {
    if (existing != listener) next->push_back(existing);
  }
  if (next->size() != impl_->listeners->size()) impl_->listeners = std::move(next);
}

void MOXDataLayer::clearPersistentKeysWithPrefix(const std::string& keyPrefix) {
  auto update = Dictionary::create();
  update->setObject(Null::null(), keyPrefix);
  push(update);
  impl_->store->clearKeysWithPrefix(keyPrefix);
}

std::shared_ptr<Dictionary> MOXDataLayer::expandKey(const std::string& keyPath,
                                                    const ObjectPtr& value) {
  auto outermost = Dictionary::create();
  if (keypath::componentCount(keyPath) > static_cast<std::size_t>(kMaxNestingDepth)) {
    MOXLog::error("Data layer key path has more than " + std::to_string(kMaxNestingDepth) +
                  " components; not expanded: " + keyPath.substr(0, 80));
    return outermost;
  }
  const auto components = keypath::split(keyPath);
  Dictionary* current = outermost.get();
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    auto child = Dictionary::create();
    Dictionary* next = child.get();
    current->setObject(std::move(child), components[i]);
    current = next;
  }
  current->setObject(value, components.back());
  return outermost;
}

void MOXDataLayer::onKeyValuesLoaded(const std::vector<MOXKeyValue>& keyValues) {
  for (const auto& entry : keyValues) {
    if (!entry.value()) continue;
    // This runs on the store's thread, where nobody could catch a failure; one bad entry (or a
    // throwing listener) must neither stop the others nor leave pushers waiting for ever.
    try {
      impl_->pushWithoutWaiting(expandKey(entry.key(), entry.value()));
    } catch (const std::exception& e) {
      MOXLog::error("Failed to restore the saved data layer entry " + entry.key() + ": " +
                    e.what());
    } catch (...) {
      MOXLog::error("Failed to restore the saved data layer entry " + entry.key());
    }
  }
  impl_->markLoaded();
}

}  // namespace loomset
