// What the properties store knows about its table while its own write transaction is open.
//
// A connection that has written inside a transaction holds the file's write lock: no other
// connection can change the table until that transaction ends. Until then the rows this
// connection read or wrote, and a row count it took, stay true as long as nothing else changed on
// the connection. The properties store uses that to skip the SELECT and the row count it would
// otherwise repeat for every hit of a burst that shares one commit.
//
// Everything is forgotten when the transaction ends (commit or rollback), when the connection
// differs, after any change on the connection that did not come through `rememberWrite`, and once
// a statement that begins or ends a transaction or changes the schema has been prepared on it; the
// store also calls `forget` when it reopens its database or empties the table. Nothing is
// remembered unless the table is exactly the store's own (`tableIsPlain`): a file another writer
// made, with other collations, constraints, indexes, triggers or text encoding, can make SQLite
// match or keep rows differently from what this cache assumes.
//
// Threads: used by its properties store only; it takes no lock of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

#include "analytics/store/PLUAnalyticsPropertiesStore.h"

struct sqlite3;

namespace loomset {

class PLUPropertiesWriteCache {
 public:
  // `structureCount` answers the connection's count of statements that begin or end a
  // transaction or change the schema; `tableIsPlain` whether the table is exactly the store's.
  PLUPropertiesWriteCache(std::function<std::uint64_t()> structureCount,
                          std::function<bool()> tableIsPlain);

  // The row stored for `tid` as a SELECT would read it now: a record, or a known absence
  // (an empty inner optional). Nothing when the cache does not know.
  std::optional<std::optional<PLUPropertyRecord>> row(sqlite3* db, const std::string& tid);
  // The number of rows in the table, when known.
  std::optional<std::int64_t> rowCount(sqlite3* db);

  // What a SELECT found for `tid` (nothing: no such row). Kept only inside a write transaction.
  void rememberRead(sqlite3* db, const std::string& tid,
                    const std::optional<PLUPropertyRecord>& found);
  // A count the table's rows just gave. Kept only inside a write transaction.
  void rememberCount(sqlite3* db, std::int64_t count);
  // After `written` was inserted or replaced on `db`; `changesBefore` is the connection's total
  // change count read right before that statement ran.
  void rememberWrite(sqlite3* db, std::int64_t changesBefore, const PLUPropertyRecord& written);

  void forget();

  // The text SQLite keeps for a string bound as a C string: up to its first NUL.
  static std::string storedText(const std::string& text);

 private:
  // True when what is remembered still holds for `db`; forgets it otherwise.
  bool holds(sqlite3* db);
  // Starts remembering afresh for `db` when it is inside a write transaction.
  bool startIfWriting(sqlite3* db);

  const std::function<std::uint64_t()> structureCount_;
  const std::function<bool()> tableIsPlain_;
  sqlite3* db_ = nullptr;
  std::int64_t changes_ = -1;
  std::uint64_t structure_ = 0;
  std::optional<std::int64_t> count_;
  std::unordered_map<std::string, std::optional<PLUPropertyRecord>> rows_;
};

}  // namespace loomset
