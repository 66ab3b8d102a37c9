#include "analytics/dispatch/PLUHitIntake.h"

#include <utility>

namespace loomset {

bool PLUHitIntake::startDrain() {
  if (draining_) return false;
  draining_ = true;
  return true;
}

bool PLUHitIntake::pushHit(PLUPackedModel model, std::uint32_t limit, std::uint32_t keepFirst) {
  MutexLock lock(mu_);
  const bool counted = !model.mayBeSampledOut();
  const std::uint64_t sequence = frontSequence_ + entries_.size();
  entries_.push_back(Entry{std::move(model), nullptr});
  ++waitingHits_;
  if (counted && limit != 0) {
    if (runCounted_++ >= keepFirst) thinnable_.push_back(sequence);
    // Every hit still whole in `thinnable_` but the newest `limit` has `limit` counted hits
    // behind it in this run.
    while (thinnable_.size() > limit) {
      const std::uint64_t oldest = thinnable_.front();
      thinnable_.pop_front();
      if (oldest < frontSequence_) continue;  // already taken by the worker
      Entry& entry = entries_[static_cast<std::size_t>(oldest - frontSequence_)];
      entry.model.thin();
      ++thinnedHits_;
    }
  }
  return startDrain();
}

bool PLUHitIntake::pushStep(std::function<void()> step) {
  MutexLock lock(mu_);
  entries_.push_back(Entry{PLUPackedModel(), std::move(step)});
  thinnable_.clear();
  runCounted_ = 0;
  return startDrain();
}

std::optional<PLUHitIntake::Entry> PLUHitIntake::pop() {
  MutexLock lock(mu_);
  if (entries_.empty()) {
    draining_ = false;
    return std::nullopt;
  }
  Entry entry = std::move(entries_.front());
  entries_.pop_front();
  ++frontSequence_;
  if (!entry.step) {
    --waitingHits_;
    if (entry.model.isThinned()) --thinnedHits_;
  }
  if (entries_.empty()) {
    // The run ends with the queue: whatever arrives next comes after a save or a dispatch.
    thinnable_.clear();
    runCounted_ = 0;
  }
  return entry;
}

bool PLUHitIntake::busy() const {
  MutexLock lock(mu_);
  return draining_ || !entries_.empty();
}

std::size_t PLUHitIntake::waitingHits() const {
  MutexLock lock(mu_);
  return waitingHits_;
}

std::size_t PLUHitIntake::thinnedHits() const {
  MutexLock lock(mu_);
  return thinnedHits_;
}

}  // namespace loomset
