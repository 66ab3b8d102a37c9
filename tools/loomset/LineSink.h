// Where a run's result lines go: one JSON document per line, flushed at once, written from the
// step thread and from the library's threads (container callbacks, tag handlers).
//
// A step holds the sink while it starts its work, so that its own line comes before the lines of
// that work: lines written while the sink is held are kept, and `release` writes them, in order,
// after whatever the step wrote with `writeNow`.
//
// Threads: every operation is safe from any thread.
#pragma once

#include <mutex>
#include <ostream>
#include <vector>

#include "tools/loomset/JsonLines.h"
#include "tools/loomset/StrictJson.h"

namespace loomset::tools {

class LineSink {
 public:
  explicit LineSink(std::ostream& out) : writer_(out) {}

  // Written at once, or kept while the sink is held.
  void write(const Json& line);
  // Written at once, held or not: the holding step's own line.
  void writeNow(const Json& line);
  void hold();
  // Writes the lines kept while held, in order, and stops holding.
  void release();

 private:
  std::mutex mu_;
  JsonLinesWriter writer_;  // guarded by mu_
  bool held_ = false;       // guarded by mu_
  std::vector<Json> kept_;  // guarded by mu_
};

// Holds the sink for a scope.
class SinkHold {
 public:
  explicit SinkHold(LineSink& sink) : sink_(sink) { sink_.hold(); }
  ~SinkHold() { sink_.release(); }
  SinkHold(const SinkHold&) = delete;
  SinkHold& operator=(const SinkHold&) = delete;

 private:
  LineSink& sink_;
};

}  // namespace loomset::tools
