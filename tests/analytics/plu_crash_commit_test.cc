// The crash hit is durable before the crash path lets the process end, also when the dispatch it
// starts answers at once: with a request already in flight, or with the collector refusing
// connections. A child process (this test program, started again for the child test alone) sends
// a hit, crashes with an uncaught exception and ends in its own terminate handler the moment the
// crash path hands over; the parent then opens the hit store the child left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "analytics/PLULog.h"
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

constexpr char kRootVariable[] = "LOOMSET_PLU_CRASH_DATA_ROOT";
constexpr char kModeVariable[] = "LOOMSET_PLU_CRASH_MODE";
constexpr char kInFlight[] = "in-flight";
constexpr char kRefused[] = "refused";
constexpr int kCrashedExit = 3;

// The application's own terminate handler, ending the process without a moment's delay.
void endAtOnce() {
  std::_Exit(kCrashedExit);
}

TEST(PLUCrashCommitChild, SendsThenCrashes) {
  const char* root = std::getenv(kRootVariable);
  const char* mode = std::getenv(kModeVariable);
  if (!root || !mode) GTEST_SKIP() << "runs as the child of the crash commit test";
  auto platform = Platform::systemDefault();
  platform->directories = DataDirectories(root);
  Platform::setCurrent(platform);

  testing::LocalHttpServer collector;  // never answers: every request stays in flight
  testing::LocalHttpServer::Response held;
  held.holdUntilReleased = true;
  collector.setResponse("/collect", held);
  collector.setResponse("/batch", held);
  PLUCollectorEndpoints endpoints;
  const bool inFlight = std::string(mode) == kInFlight;
  endpoints.plainBaseUrl = endpoints.secureBaseUrl =
      inFlight ? collector.baseUrl()
               : "http://127.0.0.1:" + std::to_string(testing::LocalHttpServer::unusedPort());
  PLUCollectorEndpoints::setShared(endpoints);

  auto facade = PLU::sharedInstance();
  facade->setDispatchInterval(0);
  auto tracker = facade->trackerWithTrackingId("UA-CRASH-1");
  ASSERT_TRUE(tracker);
  tracker->send({{"&t", "event"}, {"&ec", "before"}, {"&ea", "crash"}});
  if (inFlight) {
    facade->dispatchWithCompletionHandler(nullptr);
    ASSERT_TRUE(collector.waitForRequests(1));
  }
  std::set_terminate(&endAtOnce);
  facade->setTrackUncaughtExceptions(true);
  std::thread([] { throw std::runtime_error("disk on fire"); }).join();
}

struct StoredCrash {
  int exitCode = -1;
  int crashHits = 0;
  int otherHits = 0;
};

StoredCrash crashChild(const std::string& root, const std::string& mode) {
  StoredCrash result;
  std::vector<std::string> environment{std::string(kRootVariable) + "=" + root,
                                       std::string(kModeVariable) + "=" + mode};
  for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = "/proc/self/exe";
  std::string filter = "--gtest_filter=PLUCrashCommitChild.*";
  char* argv[] = {program.data(), filter.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return result;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);

  auto worker = std::make_shared<AsioEventLoop>("crash-commit-store");
  auto store = PLUDataStore::create(Platform::current(), worker);
  for (const auto& hit : store->fetchHitsWithLimit(0)) {
    const auto description = hit.parameters.find("&exd");
    if (description != hit.parameters.end() && description->second &&
        description->second->rfind("std::runtime_error", 0) == 0) {
      ++result.crashHits;
    } else {
      ++result.otherHits;
    }
  }
  store->deleteAllHits();
  store->save();
  return result;
}

TEST(PLUCrashCommit, TheCrashHitIsStoredWhenTheDispatchAnswersAtOnce) {
  for (const char* mode : {kInFlight, kRefused}) {
    for (int run = 0; run < 5; ++run) {
      testing::ScopedPlatform platform;
      plu_log::setSharedLogger(std::make_shared<testing::PLURecordingLogger>());
      const StoredCrash stored = crashChild(platform.dataRoot(), mode);
      plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
      ASSERT_EQ(stored.exitCode, kCrashedExit) << mode << " run " << run;
      EXPECT_EQ(stored.crashHits, 1) << mode << " run " << run << ": the crash hit is lost";
      // The earlier hit may have gone out (refused: not; in flight: never answered).
      EXPECT_EQ(stored.otherHits, 1) << mode << " run " << run;
    }
  }
}

}  // namespace
}  // namespace loomset
