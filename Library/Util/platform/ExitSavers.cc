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
  std::map<std::uint64_t, ExitSavers::Saver> savers GUARDED_BY(mu);
};

Registry& registry() {
  static NoDestructor<Registry> instance;
  return *instance;
}

}  // namespace

std::uint64_t ExitSavers::add(Saver saver) {
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
  std::vector<Saver> savers;
  {
    Registry& r = registry();
    MutexLock lock(r.mu);
    for (const auto& entry : r.savers) savers.push_back(entry.second);
  }
  for (const Saver& saver : savers) {
    if (saver) saver();
  }
}

}  // namespace loomset
