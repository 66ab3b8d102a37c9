// Results of data-layer macros within one evaluation pass. Rules of a container read the same few
// data-layer macros over and over; while the data layer has not changed, such a macro gives the
// same result again, so one pass evaluates it once.
//
// Only a macro whose result follows from the data layer alone is remembered: no rule picks among
// calls for it, its call is the built-in "_v" with constant parameters, and it pushes nothing after
// evaluation. Anything else (pushes, application handlers, time, randomness) is evaluated every
// time, as before. A remembered result holds only while the data layer's change count is the one
// read before the evaluation; any push, from this pass or another thread, ends it.
//
// Threads: a memo belongs to the pass that made it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "loomset/MOXDataLayer.h"
#include "loomset/MOXObjectAndStatic.h"
#include "loomset/MOXParameterMap.h"

namespace loomset {

class MOXPassMemo {
 public:
  // The remembered result for the macro name, or null when there is none or the data layer has
  // changed since.
  const MOXPValueAndStatic* find(std::string_view name) const {
    if (used_ == 0) return nullptr;
    for (std::size_t i = MOXKeyHash()(name) & mask();; i = (i + 1) & mask()) {
      const Slot& slot = slots_[i];
      if (!slot.entry) return nullptr;
      if (MOXParameterMap::sameKey(slot.name, name)) {
        if (slot.entry->dataLayer->changeCount() != slot.entry->changeCount) return nullptr;
        return &slot.entry->result;
      }
    }
  }

  // `name` must outlive the memo. `changeCount` was read from `dataLayer` before the evaluation
  // that gave `result` began.
  void remember(std::string_view name, const MOXDataLayer* dataLayer, std::uint64_t changeCount,
                const MOXPValueAndStatic& result) {
    if (2 * (used_ + 1) > slots_.size()) grow();
    Slot& slot = slotFor(name);
    if (!slot.entry) ++used_;
    slot.name = name;
    slot.entry.emplace(Entry{dataLayer, changeCount, result});
  }

 private:
  struct Entry {
    const MOXDataLayer* dataLayer;  // the layer the macro reads; outlives the pass
    std::uint64_t changeCount;
    MOXPValueAndStatic result;
  };
  struct Slot {
    std::string_view name;
    std::optional<Entry> entry;  // empty: a free slot
  };

  std::size_t mask() const { return slots_.size() - 1; }
  Slot& slotFor(std::string_view name) {
    std::size_t i = MOXKeyHash()(name) & mask();
    while (slots_[i].entry && !MOXParameterMap::sameKey(slots_[i].name, name)) i = (i + 1) & mask();
    return slots_[i];
  }
  void grow() {
    std::vector<Slot> old(slots_.empty() ? 16 : 2 * slots_.size());
    old.swap(slots_);
    for (Slot& slot : old) {
      if (slot.entry) slotFor(slot.name) = std::move(slot);
    }
  }

  std::vector<Slot> slots_;  // open addressing; the size is a power of two
  std::size_t used_ = 0;
};

}  // namespace loomset
