// The queue between the callers that hand hits to the dispatcher and its worker loop: packed
// tracker models and the dispatcher's other worker steps, in the order they were handed over,
// drained by one task on the worker at a time.
//
// The queue is bounded by the hit store's limit. The store keeps the newest `limit` hits and drops
// the older ones when it saves; a save comes after a run of hits, never inside it (see
// PLUBatchingDispatcher::persist). So in a run of hits with no other step between them, a hit
// followed by at least `limit` hits that will be stored is one the store would drop at the save
// after the run. Such a hit is thinned as soon as the `limit`-th hit behind it arrives: it is still
// built, sampled and numbered in its turn, but no longer held whole, and not stored. The first
// `keepFirst` hits of a run stay whole, since a dispatch right after the run sends the oldest hits
// before the save drops any. A hit that may be sampled out is not counted as one to be stored.
//
// Threads: `push*` from any thread; `pop` on the worker only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

#include "Library/Util/platform/Mutex.h"
#include "analytics/dispatch/PLUPackedModel.h"

namespace loomset {

class PLUHitIntake {
 public:
  struct Entry {
    PLUPackedModel model;        // a hit, unless `step` is set
    std::function<void()> step;  // another worker step
  };

  // Appends a hit. `limit` is the store's hit limit (0: none). True when the queue was idle: the
  // caller must then start a drain on the worker.
  bool pushHit(PLUPackedModel model, std::uint32_t limit, std::uint32_t keepFirst);
  // Appends another step; it ends the current run of hits. True when a drain must be started.
  bool pushStep(std::function<void()> step);
  // The oldest entry, or none (the queue is then idle until the next push starts a drain).
  std::optional<Entry> pop();
  // True while entries wait or a drain is running.
  bool busy() const;

  // Hits waiting, whole or thinned.
  std::size_t waitingHits() const;
  std::size_t thinnedHits() const;

 private:
  bool startDrain() REQUIRES(mu_);

  mutable Mutex mu_;
  std::deque<Entry> entries_ GUARDED_BY(mu_);
  std::uint64_t frontSequence_ GUARDED_BY(mu_) = 0;  // sequence number of entries_.front()
  // Sequence numbers of the current run's counted hits beyond its first `keepFirst`, not yet
  // thinned, oldest first.
  std::deque<std::uint64_t> thinnable_ GUARDED_BY(mu_);
  std::uint64_t runCounted_ GUARDED_BY(mu_) = 0;
  std::size_t waitingHits_ GUARDED_BY(mu_) = 0;
  std::size_t thinnedHits_ GUARDED_BY(mu_) = 0;
  bool draining_ GUARDED_BY(mu_) = false;
};

}  // namespace loomset
