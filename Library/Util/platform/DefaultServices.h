// The process-wide services of the system-default platform bundle: the "loomset-main" loop, the
// worker loops "MOXThread" and "PLUThread", the background pool, the HTTP client, the file
// system, the logger and the reachability watcher factory. Each is created on first use, once, and
// lives as long as the process (worker threads may still reach them while it exits); the loops,
// the pool and the HTTP client start their threads only when work first arrives, so that a bundle
// can be built (and replaced in tests) without starting any thread.
#pragma once

#include <memory>

#include "loomset/MOXLog.h"
#include "loomset/platform/EventLoop.h"
#include "loomset/platform/FileSystem.h"
#include "loomset/platform/HttpClient.h"
#include "loomset/platform/ReachabilityWatcher.h"

namespace loomset {

std::shared_ptr<EventLoop> defaultMainLoop();
std::shared_ptr<EventLoop> defaultContainerWorker();
std::shared_ptr<EventLoop> defaultAnalyticsWorker();
std::shared_ptr<Executor> defaultBackgroundExecutor();
std::shared_ptr<HttpClient> defaultHttpClient();
std::shared_ptr<FileSystem> defaultFileSystem();
std::shared_ptr<MOXLogger> defaultLogger();
// Host-route watchers (`HostRouteWatcher`).
const MOXReachabilityWatcherFactory& defaultReachabilityWatcherFactory();

}  // namespace loomset
