// The implementations a runtime can run, by role, with the properties each requires: the same
// table every runtime the library builds registers, read from such a runtime. Tools check
// container sources and files against it, so that what they accept and what a container runs can
// never disagree.
//
// A call names its implementation by function id; a macro call is looked up among the macros, a
// predicate among the predicates, a tag among the tags. A call whose id is not in its role's table,
// or whose properties lack a required key, fails every time it is evaluated.
//
// Threads: immutable; `builtIn` is built once, on first use, and may be read from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "loomset/Export.h"

namespace loomset {

class MOXRuntime;

enum class MOXCallRole { kMacro, kPredicate, kTag };

// "macro", "predicate", "tag".
LOOMSET_EXPORT const char* MOXCallRoleName(MOXCallRole role);

struct MOXImplementationInfo {
  std::string functionId;
  std::vector<std::string> requiredKeys;
};

// What is wrong with a call, if anything.
struct MOXCallCheck {
  // The function id names no implementation of the call's role.
  bool unknownFunctionId = false;
  // When unknown: the other roles that have an implementation of that id.
  std::vector<MOXCallRole> otherRoles;
  // The required keys the call lacks, in the implementation's order.
  std::vector<std::string> missingKeys;

  bool ok() const { return !unknownFunctionId && missingKeys.empty(); }
};

class LOOMSET_EXPORT MOXImplementationTable {
 public:
  // The built-in implementations, as every runtime registers them ("_func" included; the handlers
  // an application registers behind it are not implementations).
  static const MOXImplementationTable& builtIn();
  // The implementations registered with this runtime.
  static MOXImplementationTable ofRuntime(const MOXRuntime& runtime);

  // Sorted by function id.
  const std::vector<MOXImplementationInfo>& implementations(MOXCallRole role) const;
  const MOXImplementationInfo* find(MOXCallRole role, std::string_view functionId) const;
  // Checks a call of the role by its function id and the keys of its properties (including the
  // reserved "function" and "instance_name"), as the runtime checks it before evaluating.
  MOXCallCheck check(MOXCallRole role, std::string_view functionId,
                     const std::vector<std::string>& keys) const;

 private:
  std::vector<MOXImplementationInfo> byRole_[3];
};

}  // namespace loomset
