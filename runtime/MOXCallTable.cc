#include "runtime/MOXCallTable.h"

#include <algorithm>
#include <utility>

namespace loomset {

MOXCallTable::MOXCallTable(const MOXExpandedResource& resource)
    : calls_(resource.calls()), entries_(std::make_unique<Entry[]>(resource.callCount())) {}

void MOXCallTable::snapshot(std::size_t ordinal, const View* view, MOXParameterMap& into) const {
  if (view) {
    for (const MOXParameterMap::Entry& entry : view->parameters) {
      into.appendView(entry.first, entry.second);
    }
    return;
  }
  for (const auto& [key, value] : calls_[ordinal]->properties()) into.appendView(key, value);
}

MOXCallTable::View MOXCallTable::copyOfCurrent(std::size_t ordinal) const {
  if (const View* current = view(ordinal)) return *current;
  View copy;
  const auto& properties = calls_[ordinal]->properties();
  copy.parameters.reserve(properties.size());
  for (const auto& [key, value] : properties) copy.parameters.push_back({key, value});
  return copy;
}

void MOXCallTable::publish(std::size_t ordinal, View view) {
  view.referencing = 0;
  for (std::size_t i = 0; i < view.parameters.size(); ++i) {
    MOXParameterMap::Entry& entry = view.parameters[i];
    entry.first = *keyPool_.emplace(entry.first).first;
    if (i >= 63 || entry.second->contains_references())
      view.referencing |= std::uint64_t{1} << std::min<std::size_t>(i, 63);
  }
  kept_.push_back(std::make_unique<const View>(std::move(view)));
  entries_[ordinal].view.store(kept_.back().get(), std::memory_order_release);
}

void MOXCallTable::recordResolution(std::size_t ordinal, const View* basedOn, Role role,
                                    Resolution resolution) {
  MutexLock lock(mu_);
  const View* current = view(ordinal);
  if (keySetOf(current) != keySetOf(basedOn)) return;
  // Another thread may have resolved the call meanwhile; its resolution is the same.
  if (current && current->resolution(role).implementation) return;
  View next = copyOfCurrent(ordinal);
  next.resolutions[static_cast<std::size_t>(role)] = resolution;
  publish(ordinal, std::move(next));
}

void MOXCallTable::fold(std::size_t ordinal, const View* basedOn, std::size_t index,
                        const ValuePtr& original, ValuePtr replacement) {
  MutexLock lock(mu_);
  if (keySetOf(view(ordinal)) != keySetOf(basedOn)) return;
  View next = copyOfCurrent(ordinal);
  if (index >= next.parameters.size() || next.parameters[index].second != original) return;
  next.parameters[index].second = std::move(replacement);
  publish(ordinal, std::move(next));
}

void MOXCallTable::setParameter(std::size_t ordinal, const std::string& key, ValuePtr value) {
  MutexLock lock(mu_);
  View next = copyOfCurrent(ordinal);
  for (MOXParameterMap::Entry& entry : next.parameters) {
    if (entry.first == key) {
      entry.second = std::move(value);
      publish(ordinal, std::move(next));
      return;
    }
  }
  addedKeys_.push_back(key);
  next.parameters.push_back({addedKeys_.back(), std::move(value)});
  // The required keys may be complete now.
  next.resolutions = {};
  next.keySet = nextKeySet_++;
  publish(ordinal, std::move(next));
}

}  // namespace loomset
