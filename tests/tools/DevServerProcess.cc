#include "tools/DevServerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <memory>

#include <gtest/gtest.h>

#include "loomset/platform/EventLoop.h"
#include "loomset/platform/Platform.h"
#include "tools/ToolProcess.h"

extern char** environ;

namespace loomset::testing {
namespace {

pid_t spawn(std::vector<std::string> argvText, int in, int out, const std::string& errPath) {
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    ADD_FAILURE() << "cannot start " << argvText[0] << ": error " << error;
    return -1;
  }
  return pid;
}

// Waits up to `timeout` for the child, then kills it. The exit status, or 128 + signal.
int reap(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "child " << pid << " did not end in time; killing it";
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

DevServerProcess::DevServerProcess(std::vector<std::string> args, bool logRequests) {
  dir_ = std::make_unique<TempDir>();
  errPath_ = dir_->file("stderr");
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  std::vector<std::string> argv{LOOMSET_DEVSERVER_PATH};
  if (!logRequests) argv.push_back("--quiet");
  bool portGiven = false;
  for (const auto& a : args) portGiven |= a == "--port";
  if (!portGiven) argv.insert(argv.end(), {"--port", "0"});
  argv.insert(argv.end(), args.begin(), args.end());
  pid_ = spawn(argv, -1, pipeFds[1], errPath_);
  close(pipeFds[1]);
  if (pid_ < 0) {
    close(pipeFds[0]);
    return;
  }
  const int readFd = pipeFds[0];
  reader_ = std::thread([this, readFd] { readOutput(readFd); });
  if (!waitForLines(1)) {
    ADD_FAILURE() << "the server printed no start line; stderr: " << standardError();
    return;
  }
  const auto first = lines().front();
  if (!first.is_object() || !first.contains("port")) {
    ADD_FAILURE() << "unexpected start line " << first.dump();
    return;
  }
  port_ = first.at("port").get<int>();
}

DevServerProcess::~DevServerProcess() {
  if (pid_ > 0 && exitCode_ < 0) stop(SIGKILL);
  if (reader_.joinable()) reader_.join();
}

void DevServerProcess::readOutput(int fd) {
  std::string pending;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(chunk, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      nlohmann::ordered_json json;
      try {
        json = nlohmann::ordered_json::parse(line);
      } catch (const std::exception&) {
        json = "not JSON: " + line;
      }
      std::lock_guard<std::mutex> lock(mu_);
      lines_.push_back(std::move(json));
      changed_.notify_all();
    }
  }
  close(fd);
}

std::vector<nlohmann::ordered_json> DevServerProcess::lines() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lines_;
}

bool DevServerProcess::waitForLines(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, timeout, [&] { return lines_.size() >= count; });
}

int DevServerProcess::stop(int signal) {
  if (pid_ <= 0 || exitCode_ >= 0) return exitCode_;
  kill(pid_, signal);
  exitCode_ = reap(pid_, std::chrono::seconds(20));
  if (reader_.joinable()) reader_.join();
  return exitCode_;
}

std::string DevServerProcess::standardError() const {
  return readFile(errPath_);
}

HttpResponse httpFetch(HttpRequest request) {
  static const auto loop = std::make_shared<AsioEventLoop>("devserver-test-http");
  auto promise = std::make_shared<std::promise<HttpResponse>>();
  auto answer = promise->get_future();
  Platform::current()->http->send(
      std::move(request), loop, [promise](HttpResponse response) { promise->set_value(response); });
  if (answer.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "no HTTP answer within 60 seconds";
    return {};
  }
  return answer.get();
}

HttpResponse httpGet(const std::string& url) {
  HttpRequest request;
  request.url = url;
  return httpFetch(std::move(request));
}

TrackResult runTrack(const std::string& collector, const std::string& steps,
                     std::vector<std::string> extraArgs) {
  TempDir dir;
  writeFile(dir.file("steps"), steps);
  std::vector<std::string> args{"track", "--steps", dir.file("steps"), "--data-dir",
                                dir.file("data")};
  if (!collector.empty()) args.insert(args.end(), {"--collector-secure", collector});
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  const ToolResult result = runTool(args);
  TrackResult track;
  track.exitCode = result.exitCode;
  track.lines = jsonLines(result.out);
  track.err = result.err;
  return track;
}

}  // namespace loomset::testing
