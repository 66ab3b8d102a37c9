// Groups the data-layer store's writes into one SQLite transaction while more work is queued, so
// that a burst of saves costs one commit instead of one per statement, without changing what a
// failure leaves behind.
//
// Written one statement at a time, every successful write stands on its own: a later failure
// never takes it back. Inside a transaction, some failures (a full disk, an I/O error, a trigger
// that demands a rollback) make SQLite roll the whole transaction back. So every successful write
// is recorded with its parameters, and when SQLite drops the transaction, or the commit fails,
// the recorded writes are run again one by one outside a transaction, and the failed write is
// tried once more on its own. The file then holds what statement-by-statement writing would have
// left.
//
// The transaction takes the file's write lock when it begins, so while it is open no other
// connection changes the table: what the store learns about the table then stays true until the
// transaction ends (see `serial`).
//
// Threads: used on the store's queue only, like the connection it writes to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "Library/Util/sqlite/SqliteDatabase.h"

namespace loomset::datalayer {

// A parameter of a recorded write: an integer, or bytes bound as a blob.
using WriteParam = std::variant<std::int64_t, std::string>;

struct RecordedWrite {
  int kind;  // the caller's name for the write, handed back when a replay fails
  std::string sql;
  std::vector<WriteParam> params;
};

class StoreTransaction {
 public:
  // Called when a write run again after a dropped transaction fails.
  using ReplayFailure = std::function<void(const RecordedWrite& write, const SqliteStatus& status)>;

  StoreTransaction(SqliteDatabase& db, ReplayFailure onReplayFailure)
      : db_(db), onReplayFailure_(std::move(onReplayFailure)) {}

  // Opens a transaction unless one is open; without one (the file is locked by another writer),
  // writes run on their own.
  void begin();
  bool isOpen() const { return open_; }
  // Tells transactions apart: a new number for every transaction begun, 0 while none is open.
  std::uint64_t serial() const { return open_ ? serial_ : 0; }
  // Binds `params` to `statement` (prepared from `sql`), runs it and resets it. The result is the
  // write's final outcome, after the recovery described above when SQLite dropped the transaction.
  SqliteStatus write(int kind, SqliteStatement& statement, const std::string& sql,
                     std::vector<WriteParam> params);
  // Commits; when the commit fails, what was written is written again statement by statement.
  void commit();
  // Recorded writes and their bytes, to bound what a transaction holds.
  std::size_t writeCount() const { return journal_.size(); }
  std::size_t byteCount() const { return bytes_; }

 private:
  static SqliteStatus bindAndRun(SqliteStatement& statement, const std::vector<WriteParam>& params);
  // SQLite has ended the transaction (or it could not be committed): writes it all again.
  void replayOutsideTransaction();
  void forget();

  SqliteDatabase& db_;
  const ReplayFailure onReplayFailure_;
  bool open_ = false;
  std::uint64_t serial_ = 0;
  std::vector<RecordedWrite> journal_;
  std::size_t bytes_ = 0;
};

}  // namespace loomset::datalayer
