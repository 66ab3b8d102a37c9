// The outcome of one SQLite call: SQLite's result code and, for a failure, the connection's
// message. The library's SQLite edges return these instead of throwing; each caller decides what a
// failure means to it and logs that.
#pragma once

#include <string>
#include <utility>

namespace loomset {

class SqliteStatus {
 public:
  // Success (SQLITE_OK).
  SqliteStatus() = default;
  SqliteStatus(int code, std::string message) : code_(code), message_(std::move(message)) {}
  // SQLite's generic text for the code, for failures that happen before there is a connection.
  static SqliteStatus fromCode(int code);

  int code() const { return code_; }
  const std::string& message() const { return message_; }
  // SQLITE_OK, or a step that gave a row (SQLITE_ROW) or finished (SQLITE_DONE).
  bool ok() const;
  bool isRow() const;
  bool isDone() const;

 private:
  int code_ = 0;
  std::string message_;
};

}  // namespace loomset
