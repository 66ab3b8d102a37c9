#include "Library/Util/platform/ExitSavers.h"

#include <map>
#include <utility>
#include <vector>

#include "Library/Util/platform/Mutex.h"
#include "Library/Util/platform/NoDestructor.h"

namespace loomset {
namespace {

struct Registry {
  Mutex mu;
  std::uint64_t next GUARDED_BY(mu) = 1;
  std::map<std::uint64_t, ExitSavers::BoundedSaver> savers GUARDED_BY(mu);
};

Registry& registry() {
  static NoDestructor<Registry> instance;
  return *instance;
}

}  // namespace

std::uint64_t ExitSavers::add(Saver saver) {
  if (!saver) return addBounded(nullptr);
  return addBounded([saver = std::move(saver)](Deadline) { saver(); });
}

std::uint64_t ExitSavers::addBounded(BoundedSaver saver) {
  Registry& r = registry();
  MutexLock lock(r.mu);
  const std::uint64_t token = r.next++;
  r.savers.emplace(token, std::move(saver));
  return token;
}

void ExitSavers::remove(std::uint64_t token) {
  Registry& r = registry();
  MutexLock lock(r.mu);
  r.savers.erase(token);
}

void ExitSavers::saveAll() {
  saveAllBefore(Deadline::max());
}

void ExitSavers::saveAllBefore(Deadline deadline) {
  std::vector<BoundedSaver> savers;
  {
    Registry& r = registry();
    MutexLock lock(r.mu);
    for (const auto& entry : r.savers) savers.push_back(entry.second);
  }
  for (const BoundedSaver& saver : savers) {
    if (saver) saver(deadline);
  }
}

}  // namespace loomset
