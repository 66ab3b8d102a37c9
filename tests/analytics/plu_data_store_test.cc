// The analytics hit store over real SQLite files in a temporary data root: order, limits,
// deletion, the drain of legacy hits, client properties, damaged files, a full disk, and
// durability across a restart of the process.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "Library/Util/platform/PosixFileSystem.h"
#include "analytics/PLULog.h"
#include "analytics/store/PLUDataStore.h"
#include "foundation/PropertyListConversion.h"
#include "loomset/Collections.h"
#include "loomset/PLU.h"
#include "loomset/Scalars.h"
#include "loomset/platform/EventLoop.h"
#include "support/FullDiskVfs.h"
#include "support/PLURecording.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

PosixFileSystem& files() {
  static PosixFileSystem fileSystem;
  return fileSystem;
}

constexpr double kDay = 86400.0;

PLUStoredHit makeHit(std::optional<double> timestamp, const std::string& type) {
  PLUStoredHit hit;
  hit.timestamp = timestamp;
  hit.parameters = {{"&t", type}, {"&tid", "UA-1-1"}};
  return hit;
}

std::vector<std::string> typesOf(const std::vector<PLUStoredHit>& hits) {
  std::vector<std::string> types;
  for (const auto& hit : hits) {
    const auto it = hit.parameters.find("&t");
    types.push_back(it != hit.parameters.end() && it->second ? *it->second : "?");
  }
  return types;
}

class PLUDataStoreTest : public ::testing::Test {
 protected:
  explicit PLUDataStoreTest(std::function<void(Platform&)> customize = nullptr)
      : platform_(std::move(customize)) {
    plu_log::setSharedLogger(log_);
  }
  ~PLUDataStoreTest() override { plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>()); }

  std::shared_ptr<PLUDataStore> open() {
    return PLUDataStore::create(platform_.platform(), worker_);
  }
  std::string libraryFile(const std::string& name) const {
    return platform_.dataRoot() + "/Library/" + name;
  }
  double now() const { return platform_.clock().nowSeconds(); }

  testing::ScopedPlatform platform_;
  std::shared_ptr<testing::PLURecordingLogger> log_ =
      std::make_shared<testing::PLURecordingLogger>();
  std::shared_ptr<EventLoop> worker_ = std::make_shared<AsioEventLoop>("PLUThread-test");
};

TEST_F(PLUDataStoreTest, FirstStartCreatesBothFilesAndAClientId) {
  auto store = open();
  EXPECT_TRUE(store->isSetUp());
  EXPECT_TRUE(files().exists(libraryFile("kestrel-v2.sql")));
  EXPECT_TRUE(files().exists(libraryFile("kestrel-v3.sql")));
  const std::string clientId = store->clientId();
  ASSERT_EQ(clientId.size(), 36u);
  for (char c : clientId) EXPECT_FALSE(c >= 'A' && c <= 'Z') << clientId;
  EXPECT_EQ(store->idfaChangeCount(), 0);
  EXPECT_EQ(store->lastChangeTimeStamp(), 0);
  EXPECT_EQ(store->hashedIdfa(), std::nullopt);
  EXPECT_EQ(store->hitCount(), 0);
  EXPECT_EQ(PLUDataStore::databaseFullURL(*platform_.platform(), "kestrel-v3.sql"),
            "file://" + libraryFile("kestrel-v3.sql"));
}

TEST_F(PLUDataStoreTest, FetchesOldestFirstAndDeletesById) {
  auto store = open();
  store->addHit(makeHit(now() - 30, "third"));
  store->addHit(makeHit(now() - 90, "first"));
  store->addHit(makeHit(now() - 60, "second"));
  store->addHit(makeHit(std::nullopt, "fourth"));  // stamped now
  PLUStoredHit odd;
  odd.timestamp = now() - 10;
  odd.parameters = {{"&t", "odd"},
                    {"&cd1", kPLUNullMarker},
                    {"&ea", std::string("a\0b", 3)},
                    {"&el", "\xC3\xA9t\xC3\xA9 & =?"},
                    {"useSecure", "0"},
                    {"&ev", ""}};
  store->addHit(odd);

  // Unsaved inserts are visible at once, like saved ones.
  PLUError error;
  auto hits = store->fetchHitsWithLimit(0, &error);
  EXPECT_TRUE(error.domain.empty());
  EXPECT_EQ(typesOf(hits), (std::vector<std::string>{"first", "second", "third", "odd", "fourth"}));
  ASSERT_TRUE(hits[4].timestamp.has_value());
  EXPECT_DOUBLE_EQ(*hits[4].timestamp, now());
  EXPECT_EQ(hits[3].parameters, odd.parameters);  // text, empty text and the null marker kept
  EXPECT_EQ(typesOf(store->fetchHitsWithLimit(2)), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(store->hitCount(), 5);
  ASSERT_TRUE(store->save(&error));

  ASSERT_TRUE(store->deleteHitsWithIds({hits[0].objectID, hits[3].objectID}, &error));
  // Deleting what is gone already is no failure.
  EXPECT_TRUE(store->deleteHitsWithIds({hits[0].objectID}, &error));
  EXPECT_EQ(typesOf(store->fetchHitsWithLimit(0)),
            (std::vector<std::string>{"second", "third", "fourth"}));
  ASSERT_TRUE(store->save());

  // Identities are not reused: a new hit never takes the identity of a deleted one.
  store->addHit(makeHit(now() + 1, "fifth"));
  const auto withFifth = store->fetchHitsWithLimit(0);
  ASSERT_EQ(typesOf(withFifth).back(), "fifth");
  EXPECT_GT(withFifth.back().objectID.row, hits[3].objectID.row);  // the newest deleted one
  EXPECT_TRUE(store->deleteAllHits());
  EXPECT_TRUE(store->save());
  EXPECT_EQ(store->hitCount(), 0);
  EXPECT_TRUE(store->fetchHitsWithLimit(0).empty());
}

TEST_F(PLUDataStoreTest, SavingKeepsTheNewestHitsBeyondTheLimit) {
  auto store = open();
  EXPECT_EQ(store->maxHitCount(), 2000u);
  for (int i = 0; i < 2001; ++i) store->addHit(makeHit(now() + i, std::to_string(i)));
  EXPECT_EQ(store->hitCount(), 2001);
  ASSERT_TRUE(store->save());
  EXPECT_EQ(store->hitCount(), 2000);
  EXPECT_EQ(typesOf(store->fetchHitsWithLimit(1)), std::vector<std::string>{"1"});
  EXPECT_TRUE(log_->contains("Deleting excess hits."));

  // A save without changes leaves the count alone, and a smaller limit applies on the next one.
  store->setMaxHitCount(3);
  ASSERT_TRUE(store->save());
  EXPECT_EQ(store->hitCount(), 2000);
  store->addHit(makeHit(now() + 5000, "last"));
  ASSERT_TRUE(store->save());
  EXPECT_EQ(typesOf(store->fetchHitsWithLimit(0)),
            (std::vector<std::string>{"1999", "2000", "last"}));
  store->setMaxHitCount(0);  // no limit
  for (int i = 0; i < 5; ++i) store->addHit(makeHit(now(), "x"));
  ASSERT_TRUE(store->save());
  EXPECT_EQ(store->hitCount(), 8);
}

TEST_F(PLUDataStoreTest, ClientPropertiesAndHitsSurviveAReopen) {
  std::string clientId;
  {
    auto store = open();
    clientId = store->clientId();
    store->setHashedIdfa(std::string(32, 'a'));
    store->setIdfaChangeCount(3);
    store->setLastChangeTimeStamp(1700000123);
    EXPECT_EQ(store->idfaChangeCount(), 3);  // the cache answers at once
    store->addHit(makeHit(now(), "kept"));
    ASSERT_TRUE(store->save());
  }
  {
    auto store = open();
    EXPECT_EQ(store->clientId(), clientId);
    EXPECT_EQ(store->hashedIdfa(), std::string(32, 'a'));
    EXPECT_EQ(store->idfaChangeCount(), 3);
    EXPECT_EQ(store->lastChangeTimeStamp(), 1700000123);
    EXPECT_EQ(typesOf(store->fetchHitsWithLimit(0)), std::vector<std::string>{"kept"});
    store->setClientId("replaced-client");
    store->setHashedIdfa(std::nullopt);
  }
  auto store = open();
  EXPECT_EQ(store->clientId(), "replaced-client");
  EXPECT_EQ(store->hashedIdfa(), std::nullopt);
}

// Values set while the worker is still busy with earlier work (set-up included) are not
// overwritten by what set-up then loads from the file.
TEST_F(PLUDataStoreTest, ValuesSetBeforeSetUpWinOverStoredOnes) {
  {
    auto store = open();
    store->setIdfaChangeCount(7);
    store->setClientId("stored-client");
  }
  std::mutex mu;
  std::condition_variable cv;
  bool release = false;
  worker_->post([&] {
    std::unique_lock<std::mutex> lock(mu);
    cv.wait(lock, [&] { return release; });
  });
  auto store = open();  // set-up waits behind the blocked worker
  store->setIdfaChangeCount(9);
  store->setClientId("new-client");
  {
    std::lock_guard<std::mutex> lock(mu);
    release = true;
  }
  cv.notify_all();
  EXPECT_EQ(store->idfaChangeCount(), 9);
  EXPECT_EQ(store->clientId(), "new-client");
  store.reset();
  EXPECT_EQ(open()->clientId(), "new-client");
}

// Legacy file content, written the way the earlier release laid it out.
class LegacyFile {
 public:
  explicit LegacyFile(const std::string& path) {
    sqlite3_open(path.c_str(), &db_);
    exec(
        "CREATE TABLE PLUProperty (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, string TEXT, "
        "number INTEGER, pluVersion TEXT);"
        "CREATE TABLE PLUHit (id INTEGER PRIMARY KEY AUTOINCREMENT, timestamp REAL, "
        "parametersData BLOB, dispatchUrl TEXT, pluVersion TEXT);");
  }
  ~LegacyFile() { sqlite3_close(db_); }

  void exec(const std::string& sql) {
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db_);
  }
  void addHit(double timestamp, const std::string& data, const std::string& url) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_,
                       "INSERT INTO PLUHit (timestamp, parametersData, dispatchUrl, pluVersion) "
                       "VALUES (?, ?, ?, '2.0')",
                       -1, &st, nullptr);
    sqlite3_bind_double(st, 1, timestamp);
    sqlite3_bind_blob(st, 2, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, url.c_str(), -1, SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
    sqlite3_finalize(st);
  }

 private:
  sqlite3* db_ = nullptr;
};

std::string archivedParameters(const std::vector<std::pair<std::string, ObjectPtr>>& entries) {
  auto map = Dictionary::create();
  for (const auto& [key, value] : entries) map->setObject(value, key);
  std::string error;
  return binaryPropertyListFromObject(map, &error).value_or("");
}

TEST_F(PLUDataStoreTest, DrainsLegacyHitsBeforeCurrentOnes) {
  files().createDirectories(platform_.dataRoot() + "/Library");
  {
    LegacyFile legacy(libraryFile("kestrel-v2.sql"));
    legacy.exec(
        "INSERT INTO PLUProperty (name, string, pluVersion) VALUES ('ClientId', 'legacy-client', "
        "'2.0');"
        "INSERT INTO PLUProperty (name, number, pluVersion) VALUES ('numChanges', 4, '2.0');");
    legacy.addHit(now() - 2 * 3600,
                  archivedParameters({{"t", String::create("screenview")},
                                      {"cd", String::create("Home")},
                                      {"tid", String::create("UA-9-9")}}),
                  "https://ssl.example/collect");
    legacy.addHit(now() - kDay,
                  archivedParameters({{"t", String::create("event")},
                                      {"ev", std::make_shared<Number>(NumberType::LongLong, 42)}}),
                  "http://collect.example/collect");
    legacy.addHit(now() - 31 * kDay, archivedParameters({{"t", String::create("stale")}}),
                  "https://ssl.example/collect");
    legacy.addHit(now() - 3600, "not an archive", "https://ssl.example/collect");
  }
  auto store = open();
  EXPECT_EQ(store->clientId(), "legacy-client");
  EXPECT_EQ(store->idfaChangeCount(), 4);
  store->addHit(makeHit(now() - 5 * kDay, "current"));  // older, but in the current file
  EXPECT_EQ(store->hitCount(), 4);  // three legacy hits left after the 30-day clean-up, one new

  auto hits = store->fetchHitsWithLimit(0);
  EXPECT_TRUE(log_->contains("Deleting a legacy hit whose parameters cannot be read"));
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_TRUE(hits[0].objectID.legacy);
  EXPECT_EQ(hits[0].parameters,
            (PLUHitMap{{"&t", "event"}, {"&ev", "42"}, {"useSecure", "0"}, {"pluVersion", "2.0"}}));
  EXPECT_EQ(hits[1].parameters,
            (PLUHitMap{
                {"&t", "screenview"}, {"&cd", "Home"}, {"&tid", "UA-9-9"}, {"pluVersion", "2.0"}}));

  ASSERT_TRUE(store->deleteHitsWithIds({hits[0].objectID}));
  ASSERT_TRUE(store->save());
  EXPECT_EQ(typesOf(store->fetchHitsWithLimit(0)), std::vector<std::string>{"screenview"});
  ASSERT_TRUE(store->deleteHitsWithIds({hits[1].objectID}));
  ASSERT_TRUE(store->save());
  // The drain is over: the current file is read from now on, and the properties stay.
  EXPECT_EQ(typesOf(store->fetchHitsWithLimit(0)), std::vector<std::string>{"current"});
  EXPECT_EQ(store->hitCount(), 1);
  store.reset();
  EXPECT_EQ(open()->clientId(), "legacy-client");
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

TEST_F(PLUDataStoreTest, ReplacesGarbageAndTruncatedFilesAndKeepsNewHits) {
  files().createDirectories(platform_.dataRoot() + "/Library");
  writeFile(libraryFile("kestrel-v3.sql"), std::string(5000, 'G'));
  writeFile(libraryFile("kestrel-v2.sql"), "SQLite format 3 but not really");
  {
    auto store = open();
    EXPECT_TRUE(store->isSetUp());
    EXPECT_TRUE(log_->contains("Corrupted database with URL file://" +
                               libraryFile("kestrel-v3.sql") +
                               ": Error Domain=NSSQLiteErrorDomain"));
    EXPECT_TRUE(
        log_->contains("Corrupted database with URL file://" + libraryFile("kestrel-v2.sql")));
    for (int i = 0; i < 300; ++i) store->addHit(makeHit(now() + i, "before"));
    ASSERT_TRUE(store->save());
  }
  // Cut the file in the middle of its pages.
  const auto bytes = files().readFile(libraryFile("kestrel-v3.sql")).value_or("");
  ASSERT_GT(bytes.size(), 8192u);
  writeFile(libraryFile("kestrel-v3.sql"), bytes.substr(0, bytes.size() / 2 + 100));
  log_->clear();
  auto store = open();
  EXPECT_TRUE(store->isSetUp());
  EXPECT_TRUE(
      log_->contains("Corrupted database with URL file://" + libraryFile("kestrel-v3.sql")));
  store->addHit(makeHit(now(), "after"));
  ASSERT_TRUE(store->save());
  store.reset();
  EXPECT_EQ(typesOf(open()->fetchHitsWithLimit(0)), std::vector<std::string>{"after"});
}

class PLUDataStoreWithoutDirectoryTest : public PLUDataStoreTest {
 protected:
  PLUDataStoreWithoutDirectoryTest()
      : PLUDataStoreTest([](Platform& p) { p.directories = DataDirectories(""); }) {}
};

TEST_F(PLUDataStoreWithoutDirectoryTest, KeepsHitsInMemory) {
  auto store = open();
  EXPECT_TRUE(store->isSetUp());
  EXPECT_TRUE(log_->contains("hits are kept in memory only"));
  store->addHit(makeHit(now(), "memory"));
  EXPECT_TRUE(store->save());
  EXPECT_EQ(typesOf(store->fetchHitsWithLimit(0)), std::vector<std::string>{"memory"});
  EXPECT_FALSE(store->clientId().empty());
}

TEST_F(PLUDataStoreTest, AnUnusableStoreAnswersNothingWithoutErrors) {
  // A file where the Library directory belongs: nothing can be created under it.
  files().createDirectories(platform_.dataRoot());
  writeFile(platform_.dataRoot() + "/Library", "in the way");
  auto store = open();
  EXPECT_FALSE(store->isSetUp());
  EXPECT_TRUE(log_->contains("Error creating database with URL"));
  EXPECT_TRUE(log_->contains("Can not setup Core Data stack"));
  PLUError error;
  store->addHit(makeHit(now(), "lost"));
  EXPECT_TRUE(store->fetchHitsWithLimit(0, &error).empty());
  EXPECT_EQ(store->hitCount(&error), 0);
  EXPECT_FALSE(store->save(&error));
  EXPECT_TRUE(error.domain.empty());
  EXPECT_FALSE(store->clientId().empty());  // still usable by trackers, for this run
}

TEST_F(PLUDataStoreTest, BlocksBecomeErrorsAndRunInlineOnTheWorker) {
  auto store = open();
  PLUError error;
  EXPECT_FALSE(store->performBlockAndWait(
      [](PLUError*) { throw std::runtime_error("disk on fire"); }, &error));
  EXPECT_EQ(error.domain, "NSSQLiteErrorDomain");
  EXPECT_EQ(error.code, -1);
  EXPECT_EQ(error.userInfo["exception"], "disk on fire");
  EXPECT_FALSE(
      store->performBlockAndWait([](PLUError*) { throw std::runtime_error("x"); }, nullptr));
  EXPECT_TRUE(log_->contains("Datastore error: NSSQLiteErrorDomain -1: x"));
  auto answer = store->performBlockAndWait<int>([](PLUError*) { return 42; }, nullptr);
  EXPECT_EQ(answer, 42);

  // The dispatcher calls the store on the worker thread itself: nothing may wait for itself.
  std::int64_t count = -1;
  worker_->postAndWait([&] {
    store->addHit(makeHit(now(), "inline"));
    store->save();
    count = store->hitCount();
    store->setIdfaChangeCount(2);
    EXPECT_EQ(store->idfaChangeCount(), 2);
  });
  EXPECT_EQ(count, 1);
}

std::int64_t committedRows(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  std::int64_t rows = -1;
  if (sqlite3_prepare_v2(db, "SELECT count(*) FROM PLUHit", -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    rows = sqlite3_column_int64(st, 0);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

// Saves asked for on the worker thread share one commit per burst; whatever a caller on another
// thread observes is committed.
TEST_F(PLUDataStoreTest, SavesOnTheWorkerShareACommit) {
  auto store = open();
  ASSERT_TRUE(store->isSetUp());
  const std::string file = libraryFile("kestrel-v3.sql");
  std::int64_t seenInside = -1;
  worker_->postAndWait([&] {
    for (int i = 0; i < 3; ++i) {
      store->addHit(makeHit(now(), "burst"));
      EXPECT_TRUE(store->save());
    }
    EXPECT_EQ(store->hitCount(), 3);
    seenInside = committedRows(file);
  });
  EXPECT_EQ(seenInside, 0);
  EXPECT_EQ(store->hitCount(), 3);
  EXPECT_EQ(committedRows(file), 3);

  // The posted commit alone makes a burst durable, without any caller from outside.
  worker_->post([&] {
    store->addHit(makeHit(now(), "alone"));
    store->save();
  });
  worker_->postAndWait([] {});
  worker_->postAndWait([] {});
  EXPECT_EQ(committedRows(file), 4);
}

TEST_F(PLUDataStoreTest, SavesWhenTheApplicationResignsActiveOrTerminates) {
  auto store = open();
  ASSERT_TRUE(store->isSetUp());
  const std::string file = libraryFile("kestrel-v3.sql");
  worker_->postAndWait([&] { store->addHit(makeHit(now(), "unsaved")); });
  EXPECT_EQ(committedRows(file), 0);
  PLU::applicationWillResignActive();
  EXPECT_EQ(committedRows(file), 1);
  worker_->postAndWait([&] { store->addHit(makeHit(now(), "unsaved")); });
  PLU::applicationWillTerminate();
  EXPECT_EQ(committedRows(file), 2);
}

TEST_F(PLUDataStoreTest, ConcurrentCallersAllReachTheStore) {
  auto store = open();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        store->addHit(makeHit(now() + i, "t" + std::to_string(t)));
        if (i % 10 == 0) store->save();
        store->setIdfaChangeCount(i);
        (void)store->clientId();
        (void)store->idfaChangeCount();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_TRUE(store->save());
  EXPECT_EQ(store->hitCount(), 400);
}

// The disk fills up: every SQLite write fails with SQLITE_FULL while it lasts.
class PLUDataStoreFullDiskTest : public PLUDataStoreTest {
 protected:
  std::vector<std::string> storedTypes() {
    auto store = open();
    return typesOf(store->fetchHitsWithLimit(0));
  }
  testing::FullDiskVfs disk_;
};

TEST_F(PLUDataStoreFullDiskTest, LosesNothingCommittedAndRecoversWhenSpaceReturns) {
  std::string clientId;
  {
    auto store = open();
    ASSERT_TRUE(store->isSetUp());
    clientId = store->clientId();
    store->addHit(makeHit(now() - 30, "first"));
    store->addHit(makeHit(now() - 20, "second"));
    ASSERT_TRUE(store->save());

    disk_.setFull(true);
    store->addHit(makeHit(now() - 10, "during"));
    PLUError error;
    EXPECT_FALSE(store->save(&error));
    EXPECT_EQ(error.domain, kNSSQLiteErrorDomain);
    EXPECT_GT(disk_.refusedWrites(), 0);
    store->setIdfaChangeCount(7);  // its write fails and is logged
    EXPECT_EQ(store->idfaChangeCount(), 7);
    // Still there to be sent.
    const auto types = typesOf(store->fetchHitsWithLimit(0));
    ASSERT_GE(types.size(), 2u);
    EXPECT_EQ(types[0], "first");
    EXPECT_EQ(types[1], "second");

    disk_.setFull(false);
    store->addHit(makeHit(now(), "after"));
    ASSERT_TRUE(store->save());
  }
  // SQLite rolls back the transaction whose commit found no space: the hit stored meanwhile is
  // gone (the failed save said so), everything committed before and after is there.
  EXPECT_EQ(storedTypes(), (std::vector<std::string>{"first", "second", "after"}));
  EXPECT_EQ(open()->clientId(), clientId);
}

// Opening a store must not mistake a write that fails for lack of space for a damaged file: the
// legacy file of an earlier release (no write-ahead log yet) needs a write to be opened.
TEST_F(PLUDataStoreFullDiskTest, OpeningWhileTheDiskIsFullDeletesNothing) {
  files().createDirectories(platform_.dataRoot() + "/Library");
  {
    LegacyFile legacy(libraryFile("kestrel-v2.sql"));
    legacy.exec(
        "INSERT INTO PLUProperty (name, string, pluVersion) VALUES ('ClientId', 'legacy-client', "
        "'2.0');");
    legacy.addHit(now() - 3600, archivedParameters({{"t", String::create("screenview")}}),
                  "https://ssl.example/collect");
  }
  {
    auto earlier = open();
    earlier->addHit(makeHit(now() - 60, "current"));
    ASSERT_TRUE(earlier->save());
  }
  // A store of the earlier release: its legacy file without a write-ahead log.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(libraryFile("kestrel-v2.sql").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }

  disk_.setFull(true);
  {
    auto store = open();
    store->addHit(makeHit(now(), "lost in memory at most"));
  }
  EXPECT_FALSE(log_->contains("Corrupted database"));
  EXPECT_TRUE(files().exists(libraryFile("kestrel-v2.sql")));
  EXPECT_TRUE(files().exists(libraryFile("kestrel-v3.sql")));

  disk_.setFull(false);
  auto store = open();
  EXPECT_TRUE(store->isSetUp());
  EXPECT_EQ(store->clientId(), "legacy-client");
  const auto types = typesOf(store->fetchHitsWithLimit(0));
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.front(), "screenview");  // the legacy hit is drained first
  EXPECT_EQ(store->hitCount(), 2);
}

// Durability: a child process stores hits and ends without any clean-up; a new store in this
// process finds them.
constexpr const char* kChildDirectoryVariable = "LOOMSET_STORE_CHILD_DATA_ROOT";

TEST(PLUDataStoreChild, StoreHitsAndExit) {
  const char* root = std::getenv(kChildDirectoryVariable);
  if (!root) GTEST_SKIP() << "runs as the child of the durability test";
  testing::ScopedPlatform platform([&](Platform& p) { p.directories = DataDirectories(root); });
  auto worker = std::make_shared<AsioEventLoop>("child");
  auto store = PLUDataStore::create(platform.platform(), worker);
  store->setClientId("child-client");
  for (int i = 0; i < 25; ++i) {
    PLUStoredHit hit = makeHit(platform.clock().nowSeconds() + i, "child" + std::to_string(i));
    if (i % 2 == 0) {
      store->addHit(hit);
      store->save();
    } else {
      // The way the dispatcher stores hits: on the worker, the caller not waiting.
      worker->post([store, hit] {
        store->addHit(hit);
        store->save();
      });
    }
  }
  // Ending without any clean-up: what this process saw stored must be in the file.
  std::_Exit(store->hitCount() == 25 ? 0 : 3);
}

TEST_F(PLUDataStoreTest, HitsSurviveARestartOfTheProcess) {
  std::vector<std::string> environment{std::string(kChildDirectoryVariable) + "=" +
                                       platform_.dataRoot()};
  for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = "/proc/self/exe";
  std::string filter = "--gtest_filter=PLUDataStoreChild.StoreHitsAndExit";
  char* argv[] = {program.data(), filter.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, envp.data()), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  auto store = open();
  EXPECT_EQ(store->hitCount(), 25);
  EXPECT_EQ(store->clientId(), "child-client");
  const auto hits = store->fetchHitsWithLimit(2);
  EXPECT_EQ(typesOf(hits), (std::vector<std::string>{"child0", "child1"}));
}

}  // namespace
}  // namespace loomset
