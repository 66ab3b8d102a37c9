// Kill trials of the analytics files: a child process (this test program, started again for the
// child test alone) sends hits through the facade to a collector that does not answer, commits
// them now and then, writes a user default, and is killed with SIGKILL at a random moment. After
// every kill:
//   - the hit store, the properties database and the user-defaults file reopen whole (SQLite's
//     quick check answers "ok", the hit store logs no damaged file, the defaults are JSON);
//   - every hit the child reported committed (a resign-active or terminate call had returned) is
//     stored, or was taken out earlier by this test, which plays the part of a delivery;
//   - no two hits of one tracking id ever carried the same "&_s", and no hit is stored twice;
//   - the user default written before the last report holds at least the reported value.
// The suite runs a few kills; LOOMSET_KILL_TRIALS=N runs N (for example 200).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "analytics/PLULog.h"
#include "analytics/PLUUserDefaults.h"
#include "analytics/store/PLUDataStore.h"
#include "loomset/PLU.h"
#include "loomset/PLUCollectorEndpoints.h"
#include "loomset/PLUTracker.h"
#include "loomset/platform/EventLoop.h"
#include "support/LocalHttpServer.h"
#include "support/PLURecording.h"
#include "support/ScopedPlatform.h"

extern char** environ;

namespace loomset {
namespace {

constexpr char kRootVariable[] = "LOOMSET_PLU_KILL_DATA_ROOT";
constexpr char kRunVariable[] = "LOOMSET_PLU_KILL_RUN";
constexpr char kTrialsVariable[] = "LOOMSET_KILL_TRIALS";
constexpr int kReportFd = 3;  // the child writes the number of hits it has committed here
constexpr int kTrackers = 25;
// Within the rate limit of 25 trackers (60 hits each), so that every hit sent is taken.
constexpr int kHitsPerChild = 1000;
constexpr int kHitsPerCommit = 7;
constexpr char kCounterKey[] = "KillTrialCommittedHits";

std::string trackingId(int index) {
  return "UA-KILL-" + std::to_string(index % kTrackers);
}

std::string label(const std::string& run, int index) {
  return run + "-" + std::to_string(index);
}

TEST(PLUKillTrialChild, SendsAndCommitsHitsUntilKilled) {
  const char* root = std::getenv(kRootVariable);
  const char* run = std::getenv(kRunVariable);
  if (!root || !run) GTEST_SKIP() << "runs as the child of the kill trial";
  auto platform = Platform::systemDefault();
  platform->directories = DataDirectories(root);
  Platform::setCurrent(platform);
  PLUCollectorEndpoints unreachable;
  unreachable.plainBaseUrl = unreachable.secureBaseUrl =
      "http://127.0.0.1:" + std::to_string(testing::LocalHttpServer::unusedPort());
  PLUCollectorEndpoints::setShared(unreachable);

  auto facade = PLU::sharedInstance();
  facade->setDispatchInterval(0);  // nothing leaves; every hit stays stored
  auto defaults = PLUUserDefaults::forLibraryDirectory(platform->directories.libraryDirectory());
  std::vector<std::shared_ptr<PLUTracker>> trackers;
  for (int i = 0; i < kTrackers; ++i)
    trackers.push_back(facade->trackerWithTrackingId(trackingId(i)));

  for (int i = 0; i < kHitsPerChild; ++i) {
    auto& tracker = trackers[i % kTrackers];
    tracker->set("&cd2", "screen " + std::to_string(i));
    tracker->send({{"&t", "event"}, {"&ec", "kill"}, {"&ea", "send"}, {"&el", label(run, i)}});
    if ((i + 1) % kHitsPerCommit != 0) continue;
    if ((i / kHitsPerCommit) % 2 == 0) {
      PLU::applicationWillResignActive();
    } else {
      PLU::applicationWillTerminate();
    }
    defaults->setDouble(i + 1, kCounterKey);
    if (!defaults->synchronize()) std::_Exit(3);
    const std::int32_t committed = i + 1;
    if (::write(kReportFd, &committed, sizeof committed) != sizeof committed) std::_Exit(4);
  }
  for (;;) ::pause();
}

struct Child {
  pid_t pid = -1;
  int reports = -1;
};

Child startChild(const std::string& root, const std::string& run) {
  Child child;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return child;
  std::vector<std::string> environment{std::string(kRootVariable) + "=" + root,
                                       std::string(kRunVariable) + "=" + run};
  for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = "/proc/self/exe";
  std::string filter = "--gtest_filter=PLUKillTrialChild.*";
  char* argv[] = {program.data(), filter.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], kReportFd);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const int spawned =
      posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    child.pid = -1;
    return child;
  }
  child.reports = pipeFds[0];
  return child;
}

// Waits for the child's first report; false when none came.
bool waitForFirstCommit(const Child& child) {
  pollfd waiting{child.reports, POLLIN, 0};
  return ::poll(&waiting, 1, 60000) == 1;
}

// The last number the child reported, after it has died (the pipe then ends).
int lastReported(int fd) {
  std::int32_t value = 0;
  std::int32_t last = 0;
  std::size_t have = 0;
  char buffer[sizeof value];
  for (;;) {
    const ssize_t n = ::read(fd, buffer + have, sizeof buffer - have);
    if (n <= 0) break;
    have += static_cast<std::size_t>(n);
    if (have == sizeof buffer) {
      std::memcpy(&value, buffer, sizeof value);
      last = value;
      have = 0;
    }
  }
  return last;
}

std::string quickCheck(const std::string& path) {
  sqlite3* db = nullptr;
  std::string answer = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      answer = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return answer;
}

int trialCount() {
  const char* text = std::getenv(kTrialsVariable);
  return text ? std::max(1, std::atoi(text)) : 20;
}

TEST(PLUKillTrial, CommittedHitsSurviveKillsWithoutDamageOrDuplicates) {
  testing::ScopedPlatform platform;
  const std::string root = platform.dataRoot();
  const std::string library = root + "/Library/";
  auto log = std::make_shared<testing::PLURecordingLogger>();
  plu_log::setSharedLogger(log);

  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> delayMicros(0, 40000);
  std::set<std::string> seenLabels;  // stored now or taken out before
  // tracking id -> "&_s" -> the hit that carried it, with its client id
  std::map<std::string, std::map<std::string, std::string>> numbers;
  int committedTotal = 0;
  int storedTotal = 0;
  int uncommittedKept = 0;
  const int kills = trialCount();
  for (int kill = 0; kill < kills; ++kill) {
    const std::string run = "k" + std::to_string(kill);
    const Child child = startChild(root, run);
    ASSERT_GT(child.pid, 0);
    const bool started = waitForFirstCommit(child);
    if (started) std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
    ::kill(child.pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child.pid, &status, 0), child.pid);
    const int committed = lastReported(child.reports);
    ::close(child.reports);
    ASSERT_TRUE(started) << "kill " << kill << ": the child never committed";
    ASSERT_TRUE(WIFSIGNALED(status)) << "kill " << kill << ": the child ended, status " << status;
    committedTotal += committed;

    for (const char* file : {"kestrel-v2.sql", "kestrel-v3.sql", "kestrel-aux-v4.sql"}) {
      ASSERT_EQ(quickCheck(library + file), "ok") << "kill " << kill << ": " << file;
    }
    {
      std::ifstream in(library + "Preferences/" + PLUUserDefaults::kFileName);
      const auto defaults = nlohmann::json::parse(in, nullptr, false);
      ASSERT_TRUE(defaults.is_object()) << "kill " << kill << ": damaged user defaults";
      ASSERT_TRUE(defaults.contains("PLUFirstInitTimeStamp"));
      ASSERT_GE(defaults.value(kCounterKey, 0.0), committed) << "kill " << kill;
    }

    log->clear();
    auto worker = std::make_shared<AsioEventLoop>("kill-trial-store");
    auto store = PLUDataStore::create(platform.platform(), worker);
    ASSERT_TRUE(store->isSetUp());
    ASSERT_FALSE(log->contains("Corrupted database")) << "kill " << kill;
    const auto hits = store->fetchHitsWithLimit(0);
    std::set<std::string> thisRun;
    for (const auto& hit : hits) {
      const auto labelValue = hit.parameters.find("&el");
      ASSERT_NE(labelValue, hit.parameters.end());
      ASSERT_TRUE(labelValue->second);
      const std::string& name = *labelValue->second;
      ASSERT_TRUE(seenLabels.insert(name).second) << "kill " << kill << ": stored twice: " << name;
      thisRun.insert(name);
      const auto tid = hit.parameters.find("&tid");
      const auto number = hit.parameters.find("&_s");
      ASSERT_NE(tid, hit.parameters.end());
      ASSERT_NE(number, hit.parameters.end()) << "kill " << kill << ": a hit without &_s";
      const auto cid = hit.parameters.find("&cid");
      const std::string carrier =
          name + " (client " + (cid != hit.parameters.end() ? cid->second.value_or("") : "") + ")";
      const auto [earlier, fresh] = numbers[*tid->second].emplace(*number->second, carrier);
      ASSERT_TRUE(fresh) << "kill " << kill << ": " << *tid->second << " numbered "
                         << *number->second << " twice: " << earlier->second << " and " << carrier;
    }
    for (int i = 0; i < committed; ++i) {
      ASSERT_TRUE(thisRun.count(label(run, i)))
          << "kill " << kill << ": committed hit " << i << " of " << committed << " is lost";
    }
    storedTotal += static_cast<int>(hits.size());
    uncommittedKept += static_cast<int>(hits.size()) - committed;
    // Delivered: the next child starts with an empty hit store, as after a dispatch.
    ASSERT_TRUE(store->deleteAllHits());
    ASSERT_TRUE(store->save());
  }
  plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
  std::cout << "[ kill trial ] " << kills << " kills, " << committedTotal
            << " hits committed and all found, " << storedTotal << " stored (" << uncommittedKept
            << " sent after the last commit), no damage, no duplicates\n";
}

}  // namespace
}  // namespace loomset
