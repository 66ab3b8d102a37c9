// The table behind the pixel hit store: the entity "MOXHit" as an SQLite table in one file, with
// the operations the store needs. Synchronous; the store runs it on the worker thread.
//
// Opening creates the table when it is missing and adds "lastDispatchTime" to a table of the
// previous schema (which lacks it). A file that SQLite reports as damaged or not a database is
// deleted and made afresh, since nothing can be read from it; a file that merely cannot be opened
// now (locked, unreadable, no space) is left alone, so the hits it holds are sent by a later run.
//
// Writes are grouped: `begin` opens a transaction that many operations share and `commit` ends
// it. Each operation runs under a savepoint of its own, so an operation that fails undoes only
// itself. Hits inserted since the last commit are remembered, so that a commit that SQLite rolls
// back (a full disk) puts them back at the next commit instead of losing them.
//
// Threads: one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Library/Util/sqlite/SqliteDatabase.h"
#include "tags/MOXModel.h"

namespace loomset {

class MOXHitTable {
 public:
  // Opens (and when needed migrates or recreates) the table in the file; nothing when the file
  // cannot be used now.
  static std::optional<MOXHitTable> open(const std::string& path);

  MOXHitTable(MOXHitTable&&) = default;
  MOXHitTable& operator=(MOXHitTable&&) = default;

  // A hit that cannot be written now is kept and written at the next commit that can.
  bool insert(const std::string& url, double timestamp);
  // Oldest first by creation time, at most `limit` (0: all). With `notAttemptedAfter`, only hits
  // whose latest failed attempt is absent or not later than it.
  std::vector<MOXHit> fetch(std::size_t limit, std::optional<double> notAttemptedAfter);
  bool remove(const std::vector<std::int64_t>& rowIds);
  // Sets the first failure time where it is absent and the latest failure time to `now`.
  bool markFailed(const std::vector<std::int64_t>& rowIds, double now);
  // Deletes hits created at or before `oldestKept`, then the oldest past `maxCount` (0: no limit).
  bool deleteExcess(std::optional<double> oldestKept, std::size_t maxCount);
  std::optional<std::int64_t> count();

  bool begin();
  // False when the transaction could not be committed (its hits are kept for the next one).
  bool commit();
  bool inTransaction() const { return db_.inTransaction(); }

 private:
  explicit MOXHitTable(SqliteDatabase db) : db_(std::move(db)) {}
  template <typename Work>
  bool underSavepoint(Work work);

  SqliteDatabase db_;
  struct Pending {
    std::int64_t rowId;
    std::string url;
    double timestamp;
  };
  // Inserted in the open transaction.
  std::vector<Pending> uncommitted_;
  // Not written (a failed insert) or rolled back with a transaction; written at the next commit.
  std::vector<Pending> lost_;
};

}  // namespace loomset
