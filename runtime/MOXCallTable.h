// What one runtime has learned about each call of its resource, indexed by the call's ordinal:
// the implementation it found for the call in each of its three implementation tables (with the
// outcome of the required-keys check), the parameters it folded to their static values, and
// whether a result of the call went into the call cache. The expanded model stays untouched, so
// runtimes sharing a resource never see each other's entries.
//
// An entry's parameters and resolutions form one immutable view, replaced as a whole: readers
// load the current view with one atomic load and take no lock; writers (a first resolution, a
// fold) build a new view under the table's mutex and publish it. Views are kept until the table
// dies, since a reader may still hold an older one; each call has a handful at most, because a
// call resolves at most once per table and a parameter folds at most once.
//
// Threads: every operation may be called from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "Library/Util/platform/Mutex.h"
#include "loomset/MOXExpandedResource.h"
#include "loomset/MOXFunctionCallImplementation.h"
#include "loomset/MOXParameterMap.h"

namespace loomset {

class MOXCallTable {
 public:
  // The implementation table a call is executed against.
  enum class Role : std::uint8_t { kMacro = 0, kPredicate = 1, kTag = 2 };

  struct Resolution {
    MOXFunctionCallImplementation* implementation = nullptr;  // null: not resolved yet
    bool hasRequiredKeys = false;
  };

  struct View {
    // Keys view the call's own keys (or keys the table added); values are the call's own or
    // their folded replacements.
    std::vector<MOXParameterMap::Entry> parameters;
    std::array<Resolution, 3> resolutions;
    // Changes whenever a key is added; a resolution made for another key set is dropped.
    std::uint64_t keySet = 0;
    // Bit i: parameter i holds macro references (all bits from 63 on: maybe). Lets an execution
    // pass over the constant parameters without reading them.
    std::uint64_t referencing = 0;

    const Resolution& resolution(Role role) const {
      return resolutions[static_cast<std::size_t>(role)];
    }
  };

  // The resource must outlive the table.
  explicit MOXCallTable(const MOXExpandedResource& resource);
  MOXCallTable(const MOXCallTable&) = delete;
  MOXCallTable& operator=(const MOXCallTable&) = delete;

  std::size_t size() const { return calls_.size(); }
  const MOXExpandedFunctionCall& call(std::size_t ordinal) const { return *calls_[ordinal]; }

  // The call's current view; null while nothing has been learned about it, when its own
  // properties are the parameters.
  const View* view(std::size_t ordinal) const {
    return entries_[ordinal].view.load(std::memory_order_acquire);
  }
  // Appends the parameters of `view` (the call's own properties when null) to `into`.
  void snapshot(std::size_t ordinal, const View* view, MOXParameterMap& into) const;

  // Records the implementation found for the call, as seen in `basedOn`. Dropped when a key was
  // added since.
  void recordResolution(std::size_t ordinal, const View* basedOn, Role role, Resolution resolution);
  // Replaces the parameter at `index` of `basedOn` by its static value, unless the parameter has
  // changed since (another thread folded it first) or the key set did.
  void fold(std::size_t ordinal, const View* basedOn, std::size_t index, const ValuePtr& original,
            ValuePtr replacement);
  // Replaces the parameter under `key`, or adds it (which clears the call's resolutions).
  void setParameter(std::size_t ordinal, const std::string& key, ValuePtr value);

  void markResultCached(std::size_t ordinal) {
    entries_[ordinal].resultCached.store(true, std::memory_order_release);
  }
  // False until a result of the call went into the call cache: until then a lookup there cannot
  // hit.
  bool mayHaveCachedResult(std::size_t ordinal) const {
    return entries_[ordinal].resultCached.load(std::memory_order_acquire);
  }

 private:
  struct Entry {
    std::atomic<const View*> view{nullptr};
    std::atomic<bool> resultCached{false};
  };

  // The view a writer starts from: a copy of the current one, or of the call's own properties.
  View copyOfCurrent(std::size_t ordinal) const;
  void publish(std::size_t ordinal, View view) REQUIRES(mu_);
  static std::uint64_t keySetOf(const View* view) { return view ? view->keySet : 0; }

  const std::vector<const MOXExpandedFunctionCall*>& calls_;  // the resource's, by ordinal
  const std::unique_ptr<Entry[]> entries_;

  Mutex mu_;                                                       // serialises writers
  std::vector<std::unique_ptr<const View>> kept_ GUARDED_BY(mu_);  // every view ever published
  std::deque<std::string> addedKeys_ GUARDED_BY(mu_);              // never move once added
  // The keys of published views, each text once: calls share a handful of keys, and comparing
  // keys then reads a few hot strings instead of each call's own.
  std::unordered_set<std::string> keyPool_ GUARDED_BY(mu_);
  std::uint64_t nextKeySet_ GUARDED_BY(mu_) = 1;
};

}  // namespace loomset
