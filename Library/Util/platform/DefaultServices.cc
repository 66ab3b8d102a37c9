#include "Library/Util/platform/DefaultServices.h"

#include <atomic>
#include <mutex>
#include <string>

#include "Library/Util/http/CurlHttpClient.h"
#include "Library/Util/platform/HostRouteWatcher.h"
#include "Library/Util/platform/NoDestructor.h"
#include "Library/Util/platform/PosixFileSystem.h"

namespace loomset {

namespace {

// An event loop on a thread of its own that starts the first time work arrives.
class LazyEventLoop final : public EventLoop {
 public:
  explicit LazyEventLoop(std::string name) : name_(std::move(name)) {}

  void post(Block block) override { loop().post(std::move(block)); }
  std::shared_ptr<TimerHandle> postAfter(double delaySeconds, Block block) override {
    return loop().postAfter(delaySeconds, std::move(block));
  }
  std::shared_ptr<TimerHandle> postRepeating(double intervalSeconds, Block block) override {
    return loop().postRepeating(intervalSeconds, std::move(block));
  }
  bool isCurrent() const override {
    // No thread yet means nobody can be on it.
    return started_.load(std::memory_order_acquire) && loop_->isCurrent();
  }
  const std::string& name() const override { return name_; }

 private:
  AsioEventLoop& loop() {
    std::call_once(once_, [this] {
      loop_ = std::make_unique<AsioEventLoop>(name_);
      started_.store(true, std::memory_order_release);
    });
    return *loop_;
  }

  const std::string name_;
  std::once_flag once_;
  std::unique_ptr<AsioEventLoop> loop_;
  std::atomic<bool> started_{false};
};

class LazyExecutor final : public Executor {
 public:
  void execute(std::function<void()> work) override {
    std::call_once(once_, [this] { pool_ = std::make_unique<ThreadPoolExecutor>(2); });
    pool_->execute(std::move(work));
  }

 private:
  std::once_flag once_;
  std::unique_ptr<ThreadPoolExecutor> pool_;
};

// The libcurl client starts its transfer thread when it is made; this makes it with the first
// request.
class LazyHttpClient final : public HttpClient {
 public:
  std::shared_ptr<HttpCall> send(HttpRequest request, std::shared_ptr<EventLoop> loop,
                                 Completion completion) override {
    std::call_once(once_, [this] { client_ = std::make_unique<CurlHttpClient>(); });
    return client_->send(std::move(request), std::move(loop), std::move(completion));
  }

 private:
  std::once_flag once_;
  std::unique_ptr<CurlHttpClient> client_;
};

}  // namespace

std::shared_ptr<EventLoop> defaultMainLoop() {
  static NoDestructor<std::shared_ptr<EventLoop>> loop(
      std::make_shared<LazyEventLoop>("loomset-main"));
  return *loop;
}

std::shared_ptr<EventLoop> defaultContainerWorker() {
  static NoDestructor<std::shared_ptr<EventLoop>> loop(
      std::make_shared<LazyEventLoop>("MOXThread"));
  return *loop;
}

std::shared_ptr<EventLoop> defaultAnalyticsWorker() {
  static NoDestructor<std::shared_ptr<EventLoop>> loop(
      std::make_shared<LazyEventLoop>("PLUThread"));
  return *loop;
}

std::shared_ptr<Executor> defaultBackgroundExecutor() {
  static NoDestructor<std::shared_ptr<Executor>> executor(std::make_shared<LazyExecutor>());
  return *executor;
}

std::shared_ptr<HttpClient> defaultHttpClient() {
  static NoDestructor<std::shared_ptr<HttpClient>> client(std::make_shared<LazyHttpClient>());
  return *client;
}

std::shared_ptr<FileSystem> defaultFileSystem() {
  static NoDestructor<std::shared_ptr<FileSystem>> fileSystem(std::make_shared<PosixFileSystem>());
  return *fileSystem;
}

std::shared_ptr<MOXLogger> defaultLogger() {
  static NoDestructor<std::shared_ptr<MOXLogger>> logger(std::make_shared<MOXDefaultLogger>());
  return *logger;
}

const MOXReachabilityWatcherFactory& defaultReachabilityWatcherFactory() {
  static NoDestructor<MOXReachabilityWatcherFactory> factory(
      [](const std::string& host,
         std::shared_ptr<EventLoop> deliveryLoop) -> std::unique_ptr<MOXReachabilityWatcher> {
        if (!deliveryLoop) return nullptr;
        return std::make_unique<HostRouteWatcher>(host, std::move(deliveryLoop));
      });
  return *factory;
}

}  // namespace loomset
