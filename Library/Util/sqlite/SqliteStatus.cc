#include "Library/Util/sqlite/SqliteStatus.h"

#include <sqlite3.h>

namespace loomset {

SqliteStatus SqliteStatus::fromCode(int code) {
  return SqliteStatus(code, code == SQLITE_OK ? std::string() : sqlite3_errstr(code));
}

bool SqliteStatus::ok() const {
  return code_ == SQLITE_OK || code_ == SQLITE_ROW || code_ == SQLITE_DONE;
}

bool SqliteStatus::isRow() const {
  return code_ == SQLITE_ROW;
}

bool SqliteStatus::isDone() const {
  return code_ == SQLITE_DONE;
}

}  // namespace loomset
