// Crash safety of the saved copy: a child process (this test program, started again for the child
// test alone) saves two versions of a resource in turn, as fast as it can, and is killed with
// SIGKILL at random moments. Whatever it leaves behind must load as one whole version.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "container/LoadingTestSupport.h"
#include "container/loading/MOXResourceStorageImpl.h"
#include "support/ScopedPlatform.h"

extern char** environ;

namespace loomset {
namespace {

constexpr char kChildRootVariable[] = "LOOMSET_KILL_TEST_DATA_ROOT";
constexpr int kReadyFd = 3;  // the child writes one byte here once it has saved
constexpr char kContainerId[] = "GTM-KILL";

// Two versions of very different sizes, so that a kill can land in the middle of writing either.
MOXPResourceWithMetadata smallVersion() {
  return testing::savedResource("small", 1000);
}
MOXPResourceWithMetadata largeVersion() {
  return testing::savedResource("large", 2000, 256 * 1024);
}

TEST(ResourceStorageKillChild, SavesTwoVersionsInTurnUntilKilled) {
  const char* root = std::getenv(kChildRootVariable);
  if (!root) GTEST_SKIP() << "runs as the child of the kill test";
  // The real platform with the parent's data root; nothing the child makes outlives the kill.
  auto platform = Platform::systemDefault();
  platform->directories = DataDirectories(root);
  Platform::setCurrent(platform);
  auto storage = MOXResourceStorageImpl::create(kContainerId);
  const MOXPResourceWithMetadata versions[] = {smallVersion(), largeVersion()};
  if (!storage->saveResourceToDisk(versions[0])) std::_Exit(3);
  const char ready = 1;
  if (::write(kReadyFd, &ready, 1) != 1) std::_Exit(4);
  for (unsigned i = 1;; ++i) {
    if (!storage->saveResourceToDisk(versions[i % 2])) std::_Exit(5);
  }
}

// Starts the child; answers its pid once it has saved for the first time, or -1.
pid_t startSavingChild(const std::string& root) {
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return -1;
  std::vector<std::string> environment{std::string(kChildRootVariable) + "=" + root};
  for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = "/proc/self/exe";
  std::string filter = "--gtest_filter=ResourceStorageKillChild.*";
  char* argv[] = {program.data(), filter.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ready[1], kReadyFd);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(ready[1]);
  if (spawned != 0) {
    ::close(ready[0]);
    return -1;
  }
  pollfd waiting{ready[0], POLLIN, 0};
  char byte = 0;
  const bool saved = ::poll(&waiting, 1, 30000) == 1 && ::read(ready[0], &byte, 1) == 1;
  ::close(ready[0]);
  if (!saved) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return -1;
  }
  return child;
}

TEST(ResourceStorageKill, EverySavedFileLeftByAKilledProcessLoadsWhole) {
  testing::ScopedPlatform platform;
  const std::string root = platform.dataRoot();
  auto storage = MOXResourceStorageImpl::create(kContainerId);
  const std::string small = smallVersion().SerializeAsString();
  const std::string large = largeVersion().SerializeAsString();

  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> delayMicros(0, 8000);
  constexpr int kKills = 100;
  int foundSmall = 0;
  int foundLarge = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    const pid_t child = startSavingChild(root);
    ASSERT_GT(child, 0) << "the child did not start saving";
    std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended on its own, status " << status;

    const MOXSavedResourceOrFailure loaded = storage->loadResourceFromDisk();
    ASSERT_TRUE(loaded.resource) << "kill " << kill << ": failure " << loaded.failure;
    const std::string bytes = loaded.resource->SerializeAsString();
    ASSERT_TRUE(bytes == small || bytes == large) << "kill " << kill << ": a mixed resource";
    (bytes == small ? foundSmall : foundLarge)++;
  }
  // Both versions were seen, so kills did land between saves of each kind.
  EXPECT_GT(foundSmall, 0);
  EXPECT_GT(foundLarge, 0);

  // What else a kill may leave: only the temporary files of writes it interrupted.
  const std::string prefix = std::string("resource_") + kContainerId;
  for (const auto& entry : std::filesystem::directory_iterator(
           std::filesystem::path(*storage->resourceFilename()).parent_path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == prefix || name.rfind(prefix + ".tmp-", 0) == 0) << name;
  }
}

}  // namespace
}  // namespace loomset
