#include "datalayer/DataLayerStoreTestUtil.h"

#include "Library/Util/platform/PosixFileSystem.h"
#include "datalayer/DataLayerTable.h"

namespace loomset::testing {

SqliteDatabase DataLayerStoreTest::openFile() const {
  PosixFileSystem().createDirectories(platform_.dataRoot() + "/Library");
  SqliteDatabase db;
  EXPECT_TRUE(db.open(databasePath()).ok());
  EXPECT_TRUE(db.execute(datalayer::DataLayerTable::createTableSql()).ok());
  return db;
}

void DataLayerStoreTest::execute(const std::string& sql) const {
  SqliteDatabase db = openFile();
  const SqliteStatus status = db.execute(sql);
  EXPECT_TRUE(status.ok()) << status.message();
}

void DataLayerStoreTest::insertRowAsText(const std::string& key, const std::string& value,
                                         std::int64_t expires) {
  SqliteDatabase db = openFile();
  SqliteStatement insert =
      db.prepare("INSERT INTO datalayer (key, value, expires) VALUES (?, ?, ?)");
  insert.bindText(1, key);
  insert.bindBlob(2, value);
  insert.bindInt64(3, expires);
  EXPECT_TRUE(insert.step().isDone());
}

std::vector<StoredRow> DataLayerStoreTest::rows() const {
  std::vector<StoredRow> out;
  SqliteDatabase db = openFile();
  SqliteStatement select =
      db.prepare("SELECT key, typeof(key), expires FROM datalayer ORDER BY ID");
  while (select.step().isRow()) {
    out.push_back({select.columnText(0), select.columnText(1), select.columnInt64(2)});
  }
  return out;
}

std::vector<std::string> DataLayerStoreTest::storedKeys() const {
  std::vector<std::string> out;
  for (const StoredRow& row : rows()) out.push_back(row.key);
  return out;
}

}  // namespace loomset::testing
