// `loomset-devserver [--port N] [--containers DIR] [--keep N] [--quiet]`: serves compiled
// containers and collects analytics hits on 127.0.0.1 until SIGINT or SIGTERM (docs/tools.md).
//
// Standard output carries JSON lines only: {"listening": URL, "port": N, "containers": DIR} once
// the port is open, one record per hit received, and {"stopped": true, "received": N} at the
// end. Requests are logged to standard error unless --quiet.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "tools/devserver/DevServer.h"
#include "tools/loomset/Arguments.h"

namespace {

using loomset::devserver::DevServer;
using loomset::devserver::DevServerOptions;
using loomset::devserver::Json;
using loomset::devserver::jsonLine;
using loomset::tools::Arguments;
using loomset::tools::OptionSpec;
using loomset::tools::UsageError;

constexpr const char* kUsage =
    "usage: loomset-devserver [--port N] [--containers DIR] [--keep N] [--quiet]\n"
    "  --port N          port on 127.0.0.1 (default 0: a free port, printed at start)\n"
    "  --containers DIR  compiled containers, named ID or ID.pb (default: .)\n"
    "  --keep N          hits kept for GET /hits (default 1000)\n"
    "  --quiet           do not log requests to standard error\n";

std::size_t parseCount(const std::string& option, const std::string& text, std::size_t max) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos || std::stoul(text) > max) {
    throw UsageError(option + " takes a number up to " + std::to_string(max) + ", not \"" + text +
                     "\"");
  }
  return std::stoul(text);
}

DevServerOptions parseOptions(const std::vector<std::string>& args, bool& quiet) {
  const Arguments parsed =
      Arguments::parse(args, OptionSpec{{"--port", "--containers", "--keep"}, {"--quiet"}, {}});
  if (!parsed.positionals().empty()) {
    throw UsageError("unexpected argument \"" + parsed.positionals()[0] + "\"");
  }
  DevServerOptions options;
  if (const auto port = parsed.value("--port")) {
    options.port = static_cast<int>(parseCount("--port", *port, 65535));
  }
  if (const auto keep = parsed.value("--keep")) {
    options.keep = parseCount("--keep", *keep, 10000000);
  }
  if (const auto dir = parsed.value("--containers")) options.containers = *dir;
  std::error_code ec;
  if (!std::filesystem::is_directory(options.containers, ec)) {
    throw UsageError("--containers " + options.containers + " is not a directory");
  }
  quiet = parsed.flag("--quiet");
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
  }
  DevServerOptions options;
  bool quiet = false;
  try {
    options = parseOptions(args, quiet);
  } catch (const UsageError& e) {
    std::cerr << "loomset-devserver: " << e.what() << "\n" << kUsage;
    return 1;
  }

  // Signals are taken by this thread alone, with sigwait, so no connection thread is
  // interrupted and stopping happens outside any signal handler.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  std::mutex outputMutex;  // whole lines on both streams, whatever thread writes them
  auto printLine = [&outputMutex](const Json& json) {
    std::lock_guard<std::mutex> lock(outputMutex);
    std::cout << jsonLine(json) << std::endl;
  };
  DevServer::RequestLog log;
  if (!quiet) {
    log = [&outputMutex](const std::string& line) {
      std::lock_guard<std::mutex> lock(outputMutex);
      std::cerr << "loomset-devserver: " << line << std::endl;
    };
  }

  std::unique_ptr<DevServer> server;
  try {
    server = std::make_unique<DevServer>(options, printLine, log);
  } catch (const std::system_error& e) {
    std::cerr << "loomset-devserver: " << e.what() << "\n";
    return 2;
  }
  Json start = Json::object();
  start["listening"] = server->baseUrl();
  start["port"] = server->port();
  start["containers"] = options.containers;
  printLine(start);

  int received = 0;
  while (sigwait(&signals, &received) != 0) {
  }
  server->stop();
  Json stopped = Json::object();
  stopped["stopped"] = true;
  stopped["received"] = server->collector().received();
  printLine(stopped);
  return 0;
}
