// A container value together with why the container answered it: what the detail getters of
// MOXContainer (`stringDetailForKey` and the like) return.
//
// The value is always what the plain getter of the same type answers at that moment. `why` tells
// where it came from: the version of the resource in use, the call of the macro that answered
// (its instance name and its position among the calls filed under that name) and whether a rule
// added that call or it was the name's default, whether the answer was held in the runtime's
// cache of static results, and, when the value is the type's default because something failed,
// what failed.
//
// Plain data: copy it, keep it, hand it to any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "loomset/Export.h"

namespace loomset {

// Why a getter answered the type's default instead of the macro's value.
enum class MOXValueFailure : std::uint8_t {
  kNone = 0,          // the value is the macro's
  kClosedContainer,   // the container was closed
  kNoSuchMacro,       // no macro of the resource has that name
  kEvaluationFailed,  // the evaluation failed; `failureReason` says why
  kConversionFailed,  // the macro's value does not convert to the type asked for
};

// "none", "closedContainer", "noSuchMacro", "evaluationFailed", "conversionFailed".
LOOMSET_EXPORT const char* MOXValueFailureName(MOXValueFailure failure);

// The call of the macro that answered.
struct MOXValueCall {
  // The macro name the call is filed under (its "instance_name").
  std::string instanceName;
  // Its position among the calls filed under that name, in resource order, from 0.
  std::size_t position = 0;
  // The rule that added the call, by its position among the resource's rules from 0; nothing
  // when no rule added a call of the name and the call is the name's default.
  std::optional<std::size_t> rule;
};

struct MOXValueExplanation {
  // The version of the resource that answered (of the resource in use when the container is
  // closed).
  std::string containerVersion;
  // The call that answered; nothing when evaluation never reached one (no such macro, a closed
  // container, or a name whose rules add no call and that has no default call).
  std::optional<MOXValueCall> call;
  // The result follows from the resource alone (no data-layer value, no handler), so the runtime
  // keeps it for its life.
  bool isStatic = false;
  // The runtime held this result in its cache of static results when it was asked: the plain
  // getter answers it without evaluating anything.
  bool fromStaticCache = false;
  MOXValueFailure failure = MOXValueFailure::kNone;
  // For a failure: the first error the evaluation or the conversion reported (the text of its
  // error log line), or the exception that ended the evaluation; empty otherwise.
  std::string failureReason;
};

template <typename T>
struct MOXValueDetail {
  T value{};
  MOXValueExplanation why;
};

using MOXStringDetail = MOXValueDetail<std::string>;
using MOXBooleanDetail = MOXValueDetail<bool>;
using MOXInt64Detail = MOXValueDetail<std::int64_t>;
using MOXDoubleDetail = MOXValueDetail<double>;

}  // namespace loomset
