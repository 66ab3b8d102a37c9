// Disk fault trials of the analytics files, through the SQLite VFS of the tests and the platform's
// file system: a disk that fills up and a data directory that turns read-only while hits are
// queued, numbered and committed and the user defaults are saved, and a database file that
// another process holds locked. In each: errors are logged, nothing committed is lost or
// deleted, and once the fault is gone the library carries on by itself, every committed hit
// reaching the collector with a hit number no other hit of its tracking id carries.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Library/Util/platform/PosixFileSystem.h"
#include "analytics/PLULog.h"
#include "analytics/PLUUserDefaults.h"
#include "analytics/store/PLUDataStore.h"
#include "analytics/store/PLUSqlStore.h"
#include "loomset/platform/EventLoop.h"
#include "support/FaultInjectingFileSystem.h"
#include "support/FullDiskVfs.h"
#include "support/PLUCollector.h"
#include "support/TempDir.h"

extern char** environ;

namespace loomset {
namespace {

using testing::PLUDispatcherHarness;

class PLUDiskFaultTrial : public ::testing::Test {
 protected:
  void queue(const std::string& label) {
    h_.queue(PLUDispatcherHarness::eventHit(label, "UA-DISK-" + std::to_string(label.size() % 3)));
  }
  bool commit() {
    PLUError error;
    return h_.store().save(&error);
  }
  // Dispatches until the store is empty; the labels that reached the collector.
  std::multiset<std::string> drain() {
    for (int i = 0; i < 100 && h_.storedHits() > 0; ++i) h_.dispatchAndWait();
    EXPECT_EQ(h_.storedHits(), 0);
    std::multiset<std::string> labels;
    std::map<std::string, std::set<std::string>> numbers;
    for (const auto& hit : h_.collector().hits()) {
      labels.insert(hit.at("el"));
      if (hit.count("_s")) {
        EXPECT_TRUE(numbers[hit.at("tid")].insert(hit.at("_s")).second)
            << hit.at("tid") << " numbered " << hit.at("_s") << " twice";
      }
    }
    return labels;
  }

  testing::FullDiskVfs disk_;  // before the harness: its databases open through it
  PLUDispatcherHarness h_;
};

TEST_F(PLUDiskFaultTrial, AFullDiskLosesNothingCommittedAndHitsFlowAgainWhenSpaceReturns) {
  for (const char* label : {"a1", "a22", "a333"}) queue(label);
  ASSERT_TRUE(commit());

  disk_.setFull(true);
  for (const char* label : {"f1", "f22", "f333"}) queue(label);
  commit();  // the dispatcher's own commit after storing them failed already
  EXPECT_GT(disk_.refusedWrites(), 0);
  EXPECT_TRUE(h_.log().contains("Datastore error: database or disk is full"));
  EXPECT_TRUE(h_.log().contains("Failed to insert/update hit number: database or disk is full"));
  EXPECT_FALSE(h_.log().contains("Corrupted database"));

  disk_.setFull(false);
  for (const char* label : {"b1", "b22", "b333"}) queue(label);
  ASSERT_TRUE(commit());
  const auto labels = drain();
  for (const char* label : {"a1", "a22", "a333", "b1", "b22", "b333"}) {
    EXPECT_EQ(labels.count(label), 1u) << label;
  }
  // The hits queued while the disk was full went with the commit that failed, or later.
  for (const char* label : {"f1", "f22", "f333"}) EXPECT_LE(labels.count(label), 1u) << label;
}

TEST_F(PLUDiskFaultTrial, AReadOnlyDirectoryLosesNothingCommittedAndDeletesNothing) {
  for (const char* label : {"a1", "a22", "a333"}) queue(label);
  ASSERT_TRUE(commit());

  disk_.setReadOnly(true);
  for (const char* label : {"r1", "r22", "r333"}) queue(label);
  commit();
  EXPECT_GT(disk_.refusedWrites(), 0);
  EXPECT_TRUE(h_.log().contains("Datastore error: attempt to write a readonly database"));
  EXPECT_FALSE(h_.log().contains("Corrupted database"));
  const std::string library = h_.platform().dataRoot() + "/Library/";
  PosixFileSystem files;
  for (const char* name : {"kestrel-v2.sql", "kestrel-v3.sql", "kestrel-aux-v4.sql"}) {
    EXPECT_TRUE(files.exists(library + name)) << name;
  }

  disk_.setReadOnly(false);
  for (const char* label : {"b1", "b22", "b333"}) queue(label);
  ASSERT_TRUE(commit());
  const auto labels = drain();
  for (const char* label : {"a1", "a22", "a333", "b1", "b22", "b333"}) {
    EXPECT_EQ(labels.count(label), 1u) << label;
  }
  for (const char* label : {"r1", "r22", "r333"}) EXPECT_LE(labels.count(label), 1u) << label;
}

TEST(PLUDiskFaultTrialDefaults, UserDefaultsSurviveAFullAndAReadOnlyDiskAndCatchUp) {
  testing::TempDir dir;
  const std::string path = dir.file("Library/Preferences/defaults.json");
  auto files = std::make_shared<testing::FaultInjectingFileSystem>();
  using Op = testing::FaultInjectingFileSystem::Operation;
  const auto reread = [&] { return PLUUserDefaults(path, std::make_shared<PosixFileSystem>()); };
  PLUUserDefaults defaults(path, files);
  defaults.setDouble(1, "committed");
  ASSERT_TRUE(defaults.synchronize());

  files->fillDisk();
  defaults.setDouble(2, "while-full");
  EXPECT_FALSE(defaults.synchronize());
  files->heal();
  for (Op op : {Op::kNewTemporaryFile, Op::kRename, Op::kCreateDirectories, Op::kRemove}) {
    files->failAlways(op);
  }
  defaults.setDouble(3, "while-read-only");
  EXPECT_FALSE(defaults.synchronize());
  EXPECT_EQ(reread().doubleForKey("committed"), 1);

  files->heal();
  ASSERT_TRUE(defaults.synchronize());
  EXPECT_EQ(reread().doubleForKey("committed"), 1);
  EXPECT_EQ(reread().doubleForKey("while-full"), 2);
  EXPECT_EQ(reread().doubleForKey("while-read-only"), 3);
}

// A database file locked by another process: this test program started again for the child test
// alone, holding an exclusive transaction until its standard input closes.
constexpr char kLockedFileVariable[] = "LOOMSET_LOCK_TRIAL_FILE";

TEST(PLUDiskFaultTrialChild, HoldsAnExclusiveLockUntilStdinCloses) {
  const char* path = std::getenv(kLockedFileVariable);
  if (!path) GTEST_SKIP() << "runs as the child of the lock trial";
  sqlite3* db = nullptr;
  if (sqlite3_open(path, &db) != SQLITE_OK) std::_Exit(3);
  if (sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK) std::_Exit(4);
  const char locked = 1;
  if (::write(3, &locked, 1) != 1) std::_Exit(5);
  char byte;
  while (::read(STDIN_FILENO, &byte, 1) > 0) {
  }
  std::_Exit(0);
}

struct LockHolder {
  pid_t pid = -1;
  int release = -1;  // closing it ends the child
};

LockHolder holdLock(const std::string& path) {
  LockHolder holder;
  int ready[2];
  int release[2];
  if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) return holder;
  std::vector<std::string> environment{std::string(kLockedFileVariable) + "=" + path};
  for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = "/proc/self/exe";
  std::string filter = "--gtest_filter=PLUDiskFaultTrialChild.*";
  char* argv[] = {program.data(), filter.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
  posix_spawn_file_actions_adddup2(&actions, release[0], STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const int spawned =
      posix_spawn(&holder.pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(ready[1]);
  ::close(release[0]);
  pollfd waiting{ready[0], POLLIN, 0};
  char byte = 0;
  const bool locked =
      spawned == 0 && ::poll(&waiting, 1, 30000) == 1 && ::read(ready[0], &byte, 1) == 1;
  ::close(ready[0]);
  holder.release = release[1];
  if (!locked) holder.pid = -1;
  return holder;
}

void releaseLock(const LockHolder& holder) {
  ::close(holder.release);
  int status = 0;
  ::waitpid(holder.pid, &status, 0);
}

std::int64_t rowCount(const std::string& path, const char* table) {
  sqlite3* db = nullptr;
  std::int64_t count = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    const std::string sql = std::string("SELECT count(*) FROM ") + table;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      count = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return count;
}

// Busy is not damaged: the properties database held by another process is kept.
TEST(PLUDiskFaultTrialLock, APropertiesDatabaseLockedByAnotherProcessIsNeverDeleted) {
  testing::TempDir dir;
  const std::string path = dir.file("kestrel-aux-v4.sql");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db, "CREATE TABLE kept (x INTEGER); INSERT INTO kept VALUES (1), (2), (3);",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
  }
  const LockHolder holder = holdLock(path);
  ASSERT_GT(holder.pid, 0) << "the child did not take the lock";

  auto store = PLUSqlStore::create("kestrel-aux-v4.sql", dir.path());
  ASSERT_TRUE(store);
  const bool opened = store->ensureOpenDatabase();  // waited for, or given up: never deleted
  PosixFileSystem files;
  EXPECT_TRUE(files.exists(path));
  releaseLock(holder);
  EXPECT_EQ(rowCount(path, "kept"), 3) << "opened: " << opened;
  EXPECT_TRUE(store->ensureOpenDatabase()) << "usable once the other process let go";
  EXPECT_EQ(rowCount(path, "kept"), 3);
}

TEST(PLUDiskFaultTrialLock, AHitStoreLockedByAnotherProcessIsNeverDeleted) {
  testing::ScopedPlatform platform;
  auto log = std::make_shared<testing::PLURecordingLogger>();
  plu_log::setSharedLogger(log);
  const std::string path = platform.dataRoot() + "/Library/kestrel-v3.sql";
  {
    auto worker = std::make_shared<AsioEventLoop>("lock-trial-store");
    auto store = PLUDataStore::create(platform.platform(), worker);
    for (const char* type : {"one", "two", "three"}) {
      PLUStoredHit hit;
      hit.parameters = {{"&t", type}, {"&tid", "UA-LOCK"}};
      store->addHit(hit);
    }
    ASSERT_TRUE(store->save());
  }
  const LockHolder holder = holdLock(path);
  ASSERT_GT(holder.pid, 0) << "the child did not take the lock";
  {
    auto worker = std::make_shared<AsioEventLoop>("lock-trial-store");
    auto store = PLUDataStore::create(platform.platform(), worker);
    store->hitCount();  // waited for or given up, as long as nothing is deleted
  }
  PosixFileSystem files;
  EXPECT_TRUE(files.exists(path));
  EXPECT_FALSE(log->contains("Corrupted database"));
  releaseLock(holder);
  EXPECT_EQ(rowCount(path, "PLUHit"), 3);
  auto worker = std::make_shared<AsioEventLoop>("lock-trial-store");
  EXPECT_EQ(PLUDataStore::create(platform.platform(), worker)->hitCount(), 3);
  plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
}

}  // namespace
}  // namespace loomset
