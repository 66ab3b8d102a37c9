// The data-layer store's SQLite file: the table "datalayer" (ID, key, value, expires), the
// statements that work on it and the log lines of their failures. Each operation of the store is
// a sequence of these steps; `MOXDataLayerPersistentStoreImpl` decides when the connection opens
// and closes and when writes are committed.
//
// Keys are stored as blobs: the key column was declared with the type STRING, which gives it
// numeric affinity, and text that reads as a number would be stored as that number (the key path
// 1.50 would come back as 1.5). Blobs are kept byte for byte. Rows written as text or numbers by
// older versions read back as their text.
//
// Threads: used on the store's queue only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Library/Util/sqlite/SqliteDatabase.h"
#include "Library/Util/sqlite/SqliteStatement.h"
#include "datalayer/MOXKeyAndSerialized.h"
#include "datalayer/StoreTransaction.h"
#include "loomset/platform/FileSystem.h"

namespace loomset::datalayer {

class DataLayerTable {
 public:
  // `directory` empty: there is no library directory; the table never opens and logs nothing.
  DataLayerTable(std::string directory, std::string databaseName,
                 std::shared_ptr<FileSystem> fileSystem);
  ~DataLayerTable();
  DataLayerTable(const DataLayerTable&) = delete;
  DataLayerTable& operator=(const DataLayerTable&) = delete;

  // Whether the table is usable: opens the file (creating it and the table when missing) and
  // prepares the statements, unless that is done already.
  bool open();
  // Commits what was written and closes the file.
  void close();
  bool isOpen() const { return db_.isOpen(); }

  // From here on writes share one transaction until `commit` (or `close`).
  void beginGroup() { transaction_.begin(); }
  void commit() { transaction_.commit(); }
  // Writes waiting in the open transaction, and their bytes.
  std::size_t groupedWrites() const { return transaction_.writeCount(); }
  std::size_t groupedBytes() const { return transaction_.byteCount(); }

  // Deletes every row whose expiry time is at or before `nowMillis`.
  void deleteExpired(std::int64_t nowMillis);
  std::int64_t numStoredEntries();
  // Deletes the oldest rows so that `incoming` more fit within `maxItems`; only rows already
  // stored are deleted.
  void makeRoom(std::uint64_t maxItems, std::size_t incoming);
  // One row per entry, in order, all expiring at `expires`. A failing row is logged and skipped.
  void insert(const std::vector<MOXKeyAndSerialized>& entries, std::int64_t expires);
  // Every row, oldest first.
  std::vector<MOXKeyAndSerialized> loadAll();
  // Deletes the row whose key is the prefix and every row whose key starts with the prefix and a
  // dot, comparing bytes exactly (no pattern characters, letter case kept).
  void clearKeysWithPrefix(const std::string& prefix);

  // The SQL text of the statements, for tests that write rows as other versions did.
  static const std::string& createTableSql();

 private:
  enum WriteKind { kExpire, kInsert, kDeleteIds, kDeletePrefix };

  // What this connection knows about the table inside one transaction, during which no other
  // connection can change it: the number of rows, and a time before which no row expires. A save
  // in a burst then neither counts the rows nor scans them for expired ones when nothing can have
  // expired; the outcome is the same.
  struct Facts {
    std::uint64_t transaction = 0;  // StoreTransaction::serial() they hold for; 0: none
    std::optional<std::int64_t> rowCount;
    std::optional<std::int64_t> earliestExpiry;
  };
  // The facts of the open transaction, or null outside one.
  Facts* facts();
  std::int64_t queryEarliestExpiry();

  bool tableExists();
  SqliteStatement prepare(const std::string& sql, const char* description);
  std::vector<std::int64_t> oldestIds(std::int64_t count);
  void deleteIds(const std::vector<std::int64_t>& ids);
  void logWriteFailure(int kind, const SqliteStatus& status);

  const std::string directory_;
  const std::shared_ptr<FileSystem> fileSystem_;
  const std::string path_;

  SqliteDatabase db_;
  StoreTransaction transaction_;
  Facts facts_;
  // Prepared when the file opens, finalized before it closes.
  SqliteStatement countStatement_;
  SqliteStatement expireStatement_;
  SqliteStatement insertStatement_;
  SqliteStatement oldestIdsStatement_;
  SqliteStatement loadAllStatement_;
  // Delete-IDs statements by their number of IDs, kept while the file is open: a burst of saves
  // into a full table deletes the same few rows' worth each time.
  std::map<std::size_t, SqliteStatement> deleteIdsStatements_;
};

}  // namespace loomset::datalayer
