// The steps of `loomset run` that both of its modes answer the same way: `push`, `dl` and
// `clear` on a data layer, and the typed value lines of `get`.
//
// Threads: used from the step thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "loomset/MOXDataLayer.h"
#include "tools/loomset/JsonLines.h"
#include "tools/loomset/StepReporter.h"

namespace loomset::tools {

// {"push": OBJECT}: no line, or the error the push raised.
void pushStep(StepReporter& report, MOXDataLayer& dataLayer, const JsonLine& line,
              const Json& step);
// {"dl": PATH}: {"dl": PATH, "value": V} or {"dl": PATH, "absent": true}.
void dlStep(StepReporter& report, MOXDataLayer& dataLayer, const JsonLine& line, const Json& step);
// {"clear": PREFIX}: no line, or the error the clear raised.
void clearStep(StepReporter& report, MOXDataLayer& dataLayer, const JsonLine& line,
               const Json& step);

// The four container getters, by type.
struct TypedGetters {
  std::function<std::string(const std::string&)> string;
  std::function<bool(const std::string&)> boolean;
  std::function<double(const std::string&)> float64;
  std::function<std::int64_t(const std::string&)> int64;
};

// The "type" member of a get step ("string" when absent); nothing (after reporting) when it is
// not one of "string", "boolean", "double" and "int64".
std::optional<std::string> getStepType(StepReporter& report, const JsonLine& line,
                                       const Json& step);
// Writes {"get": KEY, "type": TYPE, "value": V}; TYPE as getStepType answered it.
void writeGetLine(StepReporter& report, const std::string& key, const std::string& type,
                  const TypedGetters& getters);

}  // namespace loomset::tools
