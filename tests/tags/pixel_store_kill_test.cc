// Crash safety of the pixel hit store: a child process (this test program, started again for the
// child test alone) stores pixel hits through MOXDataProvider as fast as it can, now and then
// "sends" the oldest one (deletes it), and is killed with SIGKILL at random moments. Each time the
// file must open again and hold every hit the child reported committed, except those it had
// started to send.
//
// The child reports on a pipe: 'C' and a hit number once the hit is committed, 'S' and a number
// before deleting that hit. LOOMSET_PIXEL_STORE_KILLS sets the number of kills (default 25; the
// full check uses 100 or more).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/ScopedPlatform.h"
#include "tags/MOXDataProvider.h"
#include "tags/MOXHitTable.h"

extern char** environ;

namespace loomset {
namespace {

constexpr char kChildPathVariable[] = "LOOMSET_PIXEL_KILL_TEST_FILE";
constexpr char kChildBaseVariable[] = "LOOMSET_PIXEL_KILL_TEST_BASE";
constexpr char kKillsVariable[] = "LOOMSET_PIXEL_STORE_KILLS";
constexpr int kReportFd = 3;
constexpr int kDefaultKills = 25;
constexpr std::size_t kRecordSize = 1 + sizeof(std::int64_t);

std::string urlOf(std::int64_t number) {
  return "https://pixel.example/p?n=" + std::to_string(number);
}

void report(char kind, std::int64_t number) {
  char record[kRecordSize];
  record[0] = kind;
  std::memcpy(record + 1, &number, sizeof(number));
  if (::write(kReportFd, record, sizeof(record)) != static_cast<ssize_t>(sizeof(record))) {
    std::_Exit(4);
  }
}

TEST(PixelStoreKillChild, StoresAndSendsHitsUntilKilled) {
  const char* path = std::getenv(kChildPathVariable);
  if (!path) GTEST_SKIP() << "runs as the child of the kill test";
  auto platform = Platform::systemDefault();
  Platform::setCurrent(platform);
  MOXDataProvider::Options options;
  options.path = path;
  auto store = MOXDataProvider::create(options);
  // Every committed hit must stay: no count limit.
  store->setMaxHitCount(0);
  // Each child numbers its hits from its own base, so that every hit is told apart.
  const char* base = std::getenv(kChildBaseVariable);
  for (std::int64_t number = base ? std::atoll(base) : 0;; ++number) {
    store->addHitWithURLString(urlOf(number));
    store->onExit();  // waits for the commit
    report('C', number);
    if (number % 4 != 0) continue;
    std::promise<std::vector<MOXHit>> oldest;
    store->fetchHitsWithLimit(
        1, [&oldest](std::vector<MOXHit> hits) { oldest.set_value(std::move(hits)); });
    const std::vector<MOXHit> hits = oldest.get_future().get();
    for (const MOXHit& hit : hits) {
      const std::string& url = hit.dispatchURL.value_or("");
      report('S', std::stoll(url.substr(url.find("n=") + 2)));
    }
    store->deleteHits(hits);
    store->onExit();
  }
}

struct Reports {
  std::set<std::int64_t> committed;
  std::set<std::int64_t> sending;
};

// Reads the records of a child that has ended; a record cut short by the kill is dropped.
void readReports(int fd, Reports& reports) {
  std::string bytes;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(fd, buffer, sizeof(buffer))) > 0) {
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  for (std::size_t at = 0; at + kRecordSize <= bytes.size(); at += kRecordSize) {
    std::int64_t number = 0;
    std::memcpy(&number, bytes.data() + at + 1, sizeof(number));
    (bytes[at] == 'C' ? reports.committed : reports.sending).insert(number);
  }
}

// Starts the child; answers its pid and the read end of its report pipe once it has committed
// its first hit.
pid_t startStoringChild(const std::string& path, std::int64_t base, int& reportFd) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  std::vector<std::string> environment{
      std::string(kChildPathVariable) + "=" + path,
      std::string(kChildBaseVariable) + "=" + std::to_string(base)};
  for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = "/proc/self/exe";
  std::string filter = "--gtest_filter=PixelStoreKillChild.*";
  char* argv[] = {program.data(), filter.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], kReportFd);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    return -1;
  }
  pollfd waiting{pipeFds[0], POLLIN, 0};
  if (::poll(&waiting, 1, 30000) != 1) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(pipeFds[0]);
    return -1;
  }
  reportFd = pipeFds[0];
  return child;
}

int killCount() {
  const char* text = std::getenv(kKillsVariable);
  const int count = text ? std::atoi(text) : 0;
  return count > 0 ? count : kDefaultKills;
}

TEST(PixelStoreKill, EveryHitCommittedBeforeAKillIsStoredOrWasBeingSent) {
  testing::ScopedPlatform platform;
  const std::string path = platform.dataRoot() + "/Library/WEN.sql";

  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> delayMicros(0, 20000);
  Reports reports;
  const int kills = killCount();
  for (int kill = 0; kill < kills; ++kill) {
    int reportFd = -1;
    const pid_t child = startStoringChild(path, std::int64_t{kill} * 1000000, reportFd);
    ASSERT_GT(child, 0) << "the child did not start storing";
    std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended on its own, status " << status;
    readReports(reportFd, reports);
    ::close(reportFd);

    auto table = MOXHitTable::open(path);
    ASSERT_TRUE(table) << "kill " << kill << ": the store does not open";
    std::set<std::int64_t> stored;
    for (const MOXHit& hit : table->fetch(0, std::nullopt)) {
      const std::string& url = hit.dispatchURL.value_or("");
      stored.insert(std::stoll(url.substr(url.find("n=") + 2)));
    }
    for (const std::int64_t number : reports.committed) {
      if (reports.sending.count(number)) continue;
      ASSERT_TRUE(stored.count(number))
          << "kill " << kill << ": committed hit " << number << " is lost";
    }
  }
  EXPECT_FALSE(reports.committed.empty());
}

}  // namespace
}  // namespace loomset
