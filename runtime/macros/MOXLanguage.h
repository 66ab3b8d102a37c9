// "_l": the user's first preferred language (DeviceInfo::preferredLanguages), lower-cased, such
// as "en-us"; MOXTypes::defaultValue(), silently, when the list is empty. Not cacheable: the
// user may change languages while the application runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "loomset/MOXFunctionCallImplementation.h"

namespace loomset {

class MOXLanguage final : public MOXFunctionCallImplementation {
 public:
  static const std::string& functionId();  // "_l"

  // The first language lower-cased (ASCII letters only); nothing for an empty list or entry.
  static std::optional<std::string> firstLanguage(const std::vector<std::string>& preferred);

  MOXLanguage() : MOXFunctionCallImplementation(functionId(), {}) {}
  bool isCacheable() const override { return false; }
  ValuePtr evaluate(const MOXParameterMap& parameters) override;
};

}  // namespace loomset
