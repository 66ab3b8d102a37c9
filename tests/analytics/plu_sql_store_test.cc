// The SQL store under the properties store: lazy opening with validation, replacement of damaged
// files, the statement cache, the open notification and the immutable flag.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <fstream>

#include "Library/Util/platform/PosixFileSystem.h"
#include "analytics/PLULog.h"
#include "analytics/store/PLUSqlStore.h"
#include "support/PLURecording.h"
#include "support/ScopedPlatform.h"
#include "support/TempDir.h"

namespace loomset {
namespace {

PosixFileSystem& files() {
  static PosixFileSystem fileSystem;
  return fileSystem;
}

class PLUSqlStoreTest : public ::testing::Test {
 protected:
  PLUSqlStoreTest() {
    plu_log::setSharedLogger(log_);
    openings_ = PLUSqlStore::addDidOpenDatabaseObserver([this](PLUSqlStore& store) {
      if (&store == store_.get()) ++opened_;
    });
    store_ = PLUSqlStore::create("aux.sql", dir_.path());
  }
  ~PLUSqlStoreTest() override { plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>()); }

  testing::TempDir dir_;
  std::shared_ptr<testing::PLURecordingLogger> log_ =
      std::make_shared<testing::PLURecordingLogger>();
  std::shared_ptr<PLUSqlStore> store_;
  int opened_ = 0;
  std::shared_ptr<void> openings_;
};

TEST_F(PLUSqlStoreTest, OpensLazilyAndAnswersAboutTables) {
  ASSERT_TRUE(store_);
  EXPECT_EQ(store_->databasePath(), dir_.file("aux.sql"));
  EXPECT_FALSE(files().exists(store_->databasePath()));
  EXPECT_EQ(store_->errorMessage(), std::nullopt);

  EXPECT_FALSE(store_->tableExists("t"));
  EXPECT_EQ(opened_, 1);
  EXPECT_TRUE(files().exists(store_->databasePath()));
  EXPECT_TRUE(store_->dropTableWithName("t"));  // a missing table counts as dropped
  EXPECT_EQ(store_->rowCountForTableWithName("t"), 0);
  EXPECT_TRUE(log_->contains("Table does not exist: t"));

  EXPECT_EQ(store_->executeSql("CREATE TABLE t (a INTEGER)"), SQLITE_DONE);
  EXPECT_EQ(store_->executeSql("INSERT INTO t VALUES (1), (2), (3)"), SQLITE_DONE);
  EXPECT_TRUE(store_->tableExists("t"));
  EXPECT_EQ(store_->rowCountForTableWithName("t"), 3);
  EXPECT_EQ(store_->executeSql("INSERT INTO t VALUES (4)"), SQLITE_DONE);
  EXPECT_EQ(store_->rowCountForTableWithName("t"), 4);  // the cached count runs again
  EXPECT_TRUE(store_->dropTableWithName("t"));
  EXPECT_FALSE(store_->tableExists("t"));
  EXPECT_EQ(opened_, 1);  // the open connection was used throughout

  EXPECT_FALSE(store_->dropTableWithName(""));
  EXPECT_EQ(store_->rowCountForTableWithName(""), 0);
  EXPECT_EQ(log_->count("Received empty table name"), 2);
  EXPECT_EQ(store_->executeSql(""), SQLITE_ERROR);
  EXPECT_EQ(store_->prepareSql(""), nullptr);
  EXPECT_EQ(log_->count("Received empty sql string"), 2);
  EXPECT_EQ(store_->executeSql("NOT SQL"), SQLITE_ERROR);
  EXPECT_TRUE(log_->contains("Failed to prepare sql statement: near \"NOT\""));
  EXPECT_TRUE(log_->contains("Failed to construct sql statement: NOT SQL"));
}

TEST_F(PLUSqlStoreTest, CachesStatementsByText) {
  ASSERT_TRUE(store_->ensureOpenDatabase());
  sqlite3_stmt* first = store_->statementForQuery("SELECT 1");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(store_->statementForQuery("SELECT 1"), first);
  EXPECT_NE(store_->statementForQuery("SELECT 2"), first);
  EXPECT_EQ(store_->statementForQuery("SELEC"), nullptr);

  sqlite3_stmt* own = store_->prepareSql("SELECT 3");
  store_->setStatement(own, "SELECT 1");  // replaces (and finalizes) the cached one
  EXPECT_EQ(store_->statementForQuery("SELECT 1"), own);
  ASSERT_EQ(sqlite3_step(own), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(own, 0), 3);
  sqlite3_reset(own);
  store_->removeStatementForQuery("SELECT 1");
  sqlite3_stmt* again = store_->statementForQuery("SELECT 1");
  ASSERT_EQ(sqlite3_step(again), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(again, 0), 1);
  sqlite3_reset(again);

  // Closing finalizes the cache; statements are prepared again on the next connection.
  store_->closeDatabase();
  EXPECT_EQ(store_->database(), nullptr);
  ASSERT_NE(store_->statementForQuery("SELECT 2"), nullptr);
  EXPECT_EQ(opened_, 2);
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

TEST_F(PLUSqlStoreTest, ReplacesDamagedFilesWithEmptyOnes) {
  writeFile(store_->databasePath(), std::string(4096, 'x'));
  EXPECT_FALSE(store_->openAndValidateDatabase());
  EXPECT_EQ(opened_, 0);
  EXPECT_TRUE(store_->ensureOpenDatabase());
  EXPECT_EQ(opened_, 1);
  EXPECT_TRUE(log_->contains("Failed to construct 'quick check' sql statement"));
  EXPECT_EQ(store_->executeSql("CREATE TABLE t (a TEXT)"), SQLITE_DONE);
  for (int i = 0; i < 200; ++i) {
    store_->executeSql("INSERT INTO t VALUES ('" + std::string(200, 'a' + i % 26) + "')");
  }
  store_->closeDatabase();

  // A file cut short: its pages no longer add up.
  const auto bytes = files().readFile(store_->databasePath()).value_or("");
  ASSERT_GT(bytes.size(), 16384u);
  writeFile(store_->databasePath(), bytes.substr(0, bytes.size() / 2));
  EXPECT_TRUE(store_->ensureOpenDatabase());
  EXPECT_FALSE(store_->tableExists("t"));  // replaced by an empty database
  EXPECT_EQ(opened_, 2);

  // A file removed underneath an open connection is created anew on the next use.
  EXPECT_EQ(store_->executeSql("CREATE TABLE u (a TEXT)"), SQLITE_DONE);
  ASSERT_TRUE(files().remove(store_->databasePath()));
  EXPECT_TRUE(store_->ensureOpenDatabase());
  EXPECT_TRUE(files().exists(store_->databasePath()));
  EXPECT_FALSE(store_->tableExists("u"));
  EXPECT_EQ(opened_, 3);

  EXPECT_TRUE(store_->closeAndDeleteDatabase());
  EXPECT_FALSE(files().exists(store_->databasePath()));
  EXPECT_TRUE(store_->closeAndDeleteDatabase());  // nothing left to delete
}

bool setImmutable(const std::string& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

TEST_F(PLUSqlStoreTest, ClearsTheImmutableFlagBeforeOpening) {
  ASSERT_TRUE(store_->ensureOpenDatabase());
  store_->closeDatabase();
  std::string error;
  EXPECT_FALSE(store_->isFileImmutable(store_->databasePath(), &error));
  EXPECT_TRUE(error.empty());
  if (!setImmutable(store_->databasePath(), true)) {
    GTEST_SKIP() << "this file system or user cannot set the immutable flag";
  }
  EXPECT_TRUE(store_->isFileImmutable(store_->databasePath()));
  EXPECT_TRUE(store_->openAndValidateDatabase());
  EXPECT_FALSE(store_->isFileImmutable(store_->databasePath()));
  EXPECT_EQ(store_->executeSql("CREATE TABLE t (a)"), SQLITE_DONE);

  // Deleting clears the flag too, or the file could not be removed.
  store_->closeDatabase();
  ASSERT_TRUE(setImmutable(store_->databasePath(), true));
  EXPECT_TRUE(store_->closeAndDeleteDatabase());
  EXPECT_FALSE(files().exists(store_->databasePath()));

  EXPECT_FALSE(store_->isFileImmutable(dir_.file("missing"), &error));
  EXPECT_FALSE(error.empty());
}

TEST(PLUSqlStoreCreation, NeedsANameAndADirectory) {
  auto log = std::make_shared<testing::PLURecordingLogger>();
  plu_log::setSharedLogger(log);
  EXPECT_EQ(PLUSqlStore::create("", "/tmp"), nullptr);
  EXPECT_TRUE(log->contains("Received empty database name"));
  EXPECT_EQ(PLUSqlStore::create("x.sql", ""), nullptr);
  EXPECT_TRUE(log->contains("Received empty database path"));
  {
    testing::ScopedPlatform platform;
    auto shared = PLUSqlStore::sharedInstance();
    ASSERT_TRUE(shared);
    EXPECT_EQ(PLUSqlStore::sharedInstance(), shared);
    EXPECT_EQ(shared->databasePath(), platform.dataRoot() + "/Library/kestrel-aux-v4.sql");
    testing::ScopedPlatform other;
    EXPECT_EQ(PLUSqlStore::sharedInstance()->databasePath(),
              other.dataRoot() + "/Library/kestrel-aux-v4.sql");
  }
  {
    testing::ScopedPlatform none([](Platform& p) { p.directories = DataDirectories(""); });
    EXPECT_EQ(PLUSqlStore::sharedInstance(), nullptr);
  }
  plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
}

}  // namespace
}  // namespace loomset
