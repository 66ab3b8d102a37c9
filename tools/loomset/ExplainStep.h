// The `explain` step of `loomset run`, in both of its modes: a getter's value with why the
// container answered it (loomset/MOXValueDetail.h), as one JSON line:
//
//   {"explain": KEY, "type": T, "value": V, "containerVersion": VERSION,
//    "call": {"instanceName": NAME, "position": P, "rule": R} | {..., "default": true} | null,
//    "static": BOOL, "fromStaticCache": BOOL, "failure": FAILURE[, "failureReason": TEXT]}
//
// FAILURE is one of "none", "closedContainer", "noSuchMacro", "evaluationFailed",
// "conversionFailed"; "failureReason" appears with any failure but "none".
//
// Threads: used from the step thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "loomset/MOXValueDetail.h"
#include "tools/loomset/JsonLines.h"
#include "tools/loomset/StepReporter.h"

namespace loomset::tools {

// The four detail getters, by type.
struct DetailGetters {
  std::function<MOXStringDetail(const std::string&)> string;
  std::function<MOXBooleanDetail(const std::string&)> boolean;
  std::function<MOXDoubleDetail(const std::string&)> float64;
  std::function<MOXInt64Detail(const std::string&)> int64;
};

// The explanation's members after "value", as written in an explain line.
Json explanationJson(const MOXValueExplanation& why);

// Writes the explain line; TYPE as getStepType answered it.
void writeExplainLine(StepReporter& report, const std::string& key, const std::string& type,
                      const DetailGetters& getters);

}  // namespace loomset::tools
