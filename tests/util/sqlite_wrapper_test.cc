// The shared SQLite wrapper: values go in and come out unchanged, failures come back as statuses
// with SQLite's code and message, and statements and connections are released exactly once.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "Library/Util/sqlite/SqliteDatabase.h"
#include "Library/Util/sqlite/SqliteStatement.h"
#include "support/TempDir.h"

namespace loomset {
namespace {

class SqliteWrapperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(db_.open(dir_.file("test.db")).ok());
    ASSERT_TRUE(db_.execute("CREATE TABLE t (a NOT NULL, b)").ok());
  }

  // Inserts one value bound by `bind` and reads it back as the statement `select` sees it.
  template <typename Bind>
  SqliteStatement insertAndSelect(Bind bind) {
    db_.execute("DELETE FROM t");
    SqliteStatement insert = db_.prepare("INSERT INTO t (a) VALUES (?)");
    EXPECT_TRUE(bind(insert).ok());
    EXPECT_TRUE(insert.step().isDone());
    SqliteStatement select = db_.prepare("SELECT a, typeof(a) FROM t");
    EXPECT_TRUE(select.step().isRow());
    return select;
  }

  testing::TempDir dir_;
  SqliteDatabase db_;
};

TEST_F(SqliteWrapperTest, BoundValuesComeBackUnchanged) {
  const std::string bytes("a\0b\xff", 4);
  auto blob = insertAndSelect([&](SqliteStatement& s) { return s.bindBlob(1, bytes); });
  EXPECT_EQ(blob.columnBlob(0), bytes);
  EXPECT_EQ(blob.columnText(1), "blob");

  // An empty blob or text is a value, not NULL (the column refuses NULL).
  auto emptyBlob = insertAndSelect([](SqliteStatement& s) { return s.bindBlob(1, {}); });
  EXPECT_EQ(emptyBlob.columnText(1), "blob");
  auto emptyText = insertAndSelect([](SqliteStatement& s) { return s.bindText(1, {}); });
  EXPECT_EQ(emptyText.columnText(1), "text");

  auto text = insertAndSelect([](SqliteStatement& s) { return s.bindText(1, "h\xc3\xa9llo"); });
  EXPECT_EQ(text.columnText(0), "h\xc3\xa9llo");

  const auto min = std::numeric_limits<std::int64_t>::min();
  auto integer = insertAndSelect([&](SqliteStatement& s) { return s.bindInt64(1, min); });
  EXPECT_EQ(integer.columnInt64(0), min);
  EXPECT_EQ(integer.columnText(0), "-9223372036854775808");

  auto real = insertAndSelect([](SqliteStatement& s) { return s.bindDouble(1, 0.1); });
  EXPECT_EQ(real.columnDouble(0), 0.1);
  EXPECT_EQ(real.columnType(0), SQLITE_FLOAT);

  SqliteStatement nullRow = db_.prepare("SELECT NULL");
  ASSERT_TRUE(nullRow.step().isRow());
  EXPECT_TRUE(nullRow.isNull(0));
  EXPECT_EQ(nullRow.columnText(0), "");
  EXPECT_TRUE(nullRow.step().isDone());
}

TEST_F(SqliteWrapperTest, FailuresCarrySqlitesCodeAndMessage) {
  SqliteStatus status;
  SqliteStatement bad = db_.prepare("NOT SQL", &status);
  EXPECT_FALSE(bad);
  EXPECT_EQ(status.code(), SQLITE_ERROR);
  EXPECT_NE(status.message().find("near \"NOT\""), std::string::npos) << status.message();

  SqliteStatement insert = db_.prepare("INSERT INTO t (a) VALUES (?)");
  ASSERT_TRUE(insert.bindNull(1).ok());
  status = insert.step();
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(status.code() & 0xff, SQLITE_CONSTRAINT);
  EXPECT_EQ(status.message(), "NOT NULL constraint failed: t.a");

  insert.reset();
  status = insert.bindInt64(7, 1);
  EXPECT_EQ(status.code(), SQLITE_RANGE);
  EXPECT_FALSE(status.message().empty());

  EXPECT_EQ(SqliteStatement().step().code(), SQLITE_MISUSE);
  EXPECT_EQ(db_.execute("INSERT INTO missing VALUES (1)").message(), "no such table: missing");

  SqliteDatabase elsewhere;
  status = elsewhere.open(dir_.file("no/such/dir/x.db"));
  EXPECT_EQ(status.code(), SQLITE_CANTOPEN);
  EXPECT_FALSE(elsewhere.isOpen());
  status = elsewhere.open(dir_.file("absent.db"), {/*create=*/false, /*noMutex=*/false});
  EXPECT_EQ(status.code(), SQLITE_CANTOPEN);
}

TEST_F(SqliteWrapperTest, StatementsAreFinalizedOnceSoTheConnectionCanClose) {
  {
    SqliteStatement first = db_.prepare("SELECT 1");
    SqliteStatement moved = std::move(first);
    EXPECT_FALSE(first);
    SqliteStatement assigned = db_.prepare("SELECT 2");
    assigned = std::move(moved);  // finalizes the statement it held
    ASSERT_TRUE(assigned.step().isRow());
    EXPECT_EQ(assigned.columnInt64(0), 1);
  }
  EXPECT_TRUE(db_.close().ok());
  EXPECT_FALSE(db_.isOpen());

  ASSERT_TRUE(db_.open(dir_.file("test.db")).ok());
  SqliteStatement alive = db_.prepare("SELECT a FROM t");
  const SqliteStatus status = db_.close();
  EXPECT_EQ(status.code(), SQLITE_BUSY);  // reported, and released once the statement goes
  EXPECT_FALSE(db_.isOpen());
  EXPECT_TRUE(alive.step().isDone());

  ASSERT_TRUE(db_.open(dir_.file("test.db")).ok());
  sqlite3_stmt* raw = db_.prepare("SELECT 3").release();
  ASSERT_NE(raw, nullptr);
  SqliteStatement adopted(raw);
  EXPECT_EQ(adopted.handle(), raw);
  ASSERT_TRUE(adopted.step().isRow());
  EXPECT_EQ(adopted.columnInt64(0), 3);
}

TEST_F(SqliteWrapperTest, TellsWhetherATransactionIsOpen) {
  EXPECT_FALSE(db_.inTransaction());
  ASSERT_TRUE(db_.execute("BEGIN").ok());
  EXPECT_TRUE(db_.inTransaction());
  ASSERT_TRUE(db_.execute("INSERT INTO t (a) VALUES (1)").ok());
  EXPECT_EQ(db_.lastInsertRowId(), 1);
  ASSERT_TRUE(db_.execute("COMMIT").ok());
  EXPECT_FALSE(db_.inTransaction());
}

}  // namespace
}  // namespace loomset
