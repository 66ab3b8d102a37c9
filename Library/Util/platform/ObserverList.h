// Observers of one kind of event, delivered on an event loop (the library's main loop) and never
// under a lock of the library: `post` queues the event on the loop, and there each observer
// registered at that moment is called in the order added, with the list's lock released. An
// observer removed on the loop's thread before its turn is not called; what an observer throws is
// handed to the list's error log and the next observer goes on.
//
// Threads: every operation is safe from any thread. The list may be destroyed while deliveries
// are queued: they then find no observers.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Library/Util/platform/Mutex.h"
#include "loomset/platform/EventLoop.h"

namespace loomset {

template <typename Event>
class ObserverList {
 public:
  using Observer = std::function<void(const Event&)>;
  using ErrorLog = std::function<void(const std::string& message)>;

  explicit ObserverList(ErrorLog errorLog) : shared_(std::make_shared<Shared>()) {
    shared_->errorLog = std::move(errorLog);
  }
  ObserverList(const ObserverList&) = delete;
  ObserverList& operator=(const ObserverList&) = delete;

  // 0, registering nothing, for an empty observer.
  std::uint64_t add(Observer observer) {
    if (!observer) return 0;
    MutexLock lock(shared_->mu);
    const std::uint64_t token = ++shared_->lastToken;
    shared_->observers.emplace(token, std::make_shared<Observer>(std::move(observer)));
    return token;
  }

  void remove(std::uint64_t token) {
    std::shared_ptr<Observer> removed;  // released outside the lock: it may own anything
    MutexLock lock(shared_->mu);
    const auto it = shared_->observers.find(token);
    if (it == shared_->observers.end()) return;
    removed = std::move(it->second);
    shared_->observers.erase(it);
  }

  bool empty() const {
    MutexLock lock(shared_->mu);
    return shared_->observers.empty();
  }

  // Nothing is queued while no observer is registered.
  void post(EventLoop& loop, Event event) {
    if (empty()) return;
    loop.post([weak = std::weak_ptr<Shared>(shared_), event = std::move(event)] {
      if (auto shared = weak.lock()) shared->deliver(event);
    });
  }

 private:
  struct Shared {
    Mutex mu;
    std::uint64_t lastToken GUARDED_BY(mu) = 0;
    std::map<std::uint64_t, std::shared_ptr<Observer>> observers GUARDED_BY(mu);
    ErrorLog errorLog;

    void deliver(const Event& event) {
      std::vector<std::uint64_t> tokens;
      {
        MutexLock lock(mu);
        for (const auto& entry : observers) tokens.push_back(entry.first);
      }
      for (const std::uint64_t token : tokens) {
        std::shared_ptr<Observer> observer;
        {
          MutexLock lock(mu);
          const auto it = observers.find(token);
          if (it == observers.end()) continue;
          observer = it->second;
        }
        try {
          (*observer)(event);
        } catch (const std::exception& e) {
          if (errorLog) errorLog(std::string("An observer threw an exception: ") + e.what());
        } catch (...) {
          if (errorLog) errorLog("An observer threw an exception.");
        }
      }
    }
  };

  const std::shared_ptr<Shared> shared_;
};

}  // namespace loomset
