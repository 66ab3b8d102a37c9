// What the steps of `loomset run` share: checking a step's members and writing its error lines
// ({"error": "InvalidStep", "reason": ..., "line": N}, {"error": "NotOpen", ...}, and the error
// a data-layer operation raised).
//
// Threads: used from the step thread.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>

#include "tools/loomset/JsonLines.h"
#include "tools/loomset/LineSink.h"

namespace loomset::tools {

class StepReporter {
 public:
  explicit StepReporter(LineSink& out) : out_(out) {}

  LineSink& out() { return out_; }

  void invalid(const JsonLine& line, const std::string& reason);
  void notOpen(const JsonLine& line, const std::string& containerId);
  // True when the step has no members besides `allowed`; reports it otherwise.
  bool onlyMembers(const JsonLine& line, const Json& step,
                   std::initializer_list<const char*> allowed);
  // The member as text; null (after reporting) when it is not a string.
  const std::string* text(const JsonLine& line, const Json& step, const char* member);
  // A number of milliseconds from 0 to `max` (which may be infinite) into `value`; false (after
  // reporting) otherwise.
  bool milliseconds(const JsonLine& line, const Json& step, const char* member, double max,
                    double& value);
  // Runs a data-layer operation; what it raises (a push loop, or a tag's failure passing through
  // the push) becomes {"error": NAME, "reason": REASON}, and the run goes on.
  void guarded(const std::function<void()>& operation);

 private:
  LineSink& out_;
};

}  // namespace loomset::tools
