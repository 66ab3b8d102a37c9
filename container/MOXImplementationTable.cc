#include "loomset/MOXImplementationTable.h"

#include <algorithm>
#include <utility>

#include "loomset/MOXExpandedResource.h"
#include "loomset/MOXFunctionCallImplementation.h"
#include "loomset/MOXRuntime.h"

namespace loomset {
namespace {

std::size_t slot(MOXCallRole role) {
  return static_cast<std::size_t>(role);
}

std::vector<MOXImplementationInfo> infos(const MOXRuntime::ImplementationMap& map) {
  std::vector<MOXImplementationInfo> result;
  result.reserve(map.size());
  for (const auto& [id, implementation] : map) {
    result.push_back({id, implementation->requiredKeys()});
  }
  std::sort(result.begin(), result.end(),
            [](const auto& a, const auto& b) { return a.functionId < b.functionId; });
  return result;
}

constexpr MOXCallRole kRoles[] = {MOXCallRole::kMacro, MOXCallRole::kPredicate, MOXCallRole::kTag};

}  // namespace

const char* MOXCallRoleName(MOXCallRole role) {
  switch (role) {
    case MOXCallRole::kMacro:
      return "macro";
    case MOXCallRole::kPredicate:
      return "predicate";
    case MOXCallRole::kTag:
      return "tag";
  }
  return "macro";
}

const MOXImplementationTable& MOXImplementationTable::builtIn() {
  // Read from a runtime as the library builds them, over an empty resource and without a data
  // layer or handlers (what needs them then does nothing; nothing here evaluates).
  static const MOXImplementationTable table = [] {
    const auto runtime = MOXRuntime::runtimeWithResource(MOXExpandedResource::builder().build(),
                                                         nullptr, nullptr, nullptr);
    return ofRuntime(*runtime);
  }();
  return table;
}

MOXImplementationTable MOXImplementationTable::ofRuntime(const MOXRuntime& runtime) {
  MOXImplementationTable table;
  table.byRole_[slot(MOXCallRole::kMacro)] = infos(runtime.macroMap());
  table.byRole_[slot(MOXCallRole::kPredicate)] = infos(runtime.predicateMap());
  table.byRole_[slot(MOXCallRole::kTag)] = infos(runtime.trackingTagMap());
  return table;
}

const std::vector<MOXImplementationInfo>& MOXImplementationTable::implementations(
    MOXCallRole role) const {
  return byRole_[slot(role)];
}

const MOXImplementationInfo* MOXImplementationTable::find(MOXCallRole role,
                                                          std::string_view functionId) const {
  const auto& list = byRole_[slot(role)];
  auto it = std::lower_bound(
      list.begin(), list.end(), functionId,
      [](const MOXImplementationInfo& info, std::string_view id) { return info.functionId < id; });
  return it != list.end() && it->functionId == functionId ? &*it : nullptr;
}

MOXCallCheck MOXImplementationTable::check(MOXCallRole role, std::string_view functionId,
                                           const std::vector<std::string>& keys) const {
  MOXCallCheck result;
  const MOXImplementationInfo* info = find(role, functionId);
  if (!info) {
    result.unknownFunctionId = true;
    for (MOXCallRole other : kRoles) {
      if (other != role && find(other, functionId)) result.otherRoles.push_back(other);
    }
    return result;
  }
  // Keys match exactly, as the runtime's parameter lookup does.
  for (const std::string& required : info->requiredKeys) {
    if (std::find(keys.begin(), keys.end(), required) == keys.end()) {
      result.missingKeys.push_back(required);
    }
  }
  return result;
}

}  // namespace loomset
