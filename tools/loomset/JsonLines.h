// Reading JSON Lines: one JSON document per line. Blank lines are skipped; a line that does not
// parse is handed over as an error with its line number, so a caller can report it and go on.
//
// Threads: one reader per stream, used from one thread.
#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "tools/loomset/StrictJson.h"

namespace loomset::tools {

struct JsonLine {
  std::size_t lineNumber = 0;  // 1-based
  std::optional<Json> json;    // set when the line parsed
  std::string error;           // why it did not
};

class JsonLinesReader {
 public:
  explicit JsonLinesReader(std::istream& in) : in_(in) {}
  // The next non-blank line; false at the end of the stream.
  bool next(JsonLine& line);

 private:
  std::istream& in_;
  std::size_t lineNumber_ = 0;
};

}  // namespace loomset::tools

namespace loomset::tools {

// Writes one JSON document per line and flushes it, so that a reader on the other end of a pipe
// sees each result as soon as it exists.
class JsonLinesWriter {
 public:
  explicit JsonLinesWriter(std::ostream& out) : out_(out) {}
  void write(const Json& json);

 private:
  std::ostream& out_;
};

}  // namespace loomset::tools
