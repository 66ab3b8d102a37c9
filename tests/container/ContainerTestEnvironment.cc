#include "ContainerTestEnvironment.h"

#include <chrono>
#include <thread>

#include "Library/Util/platform/PosixFileSystem.h"
#include "container/preview/MOXPreviewManager.h"
#include "support/RuntimeTestSupport.h"

namespace loomset::testing {

MOXPResource constantResource(const std::string& version,
                              const std::vector<std::pair<std::string, std::string>>& macros) {
  ServingResourceBuilder b;
  const int constant = b.addFunctionId("_c");
  for (const auto& [name, value] : macros) {
    b.addMacro({{"instance_name", b.addString(name)},
                {"function", constant},
                {"value", b.addString(value)}});
  }
  b.resource().set_version(version);
  return b.resource();
}

MOXPResource invalidResource() {
  ServingResourceBuilder b;
  b.addList({0});
  const int constant = b.addFunctionId("_c");
  b.addMacro({{"instance_name", b.addString("greeting")}, {"function", constant}, {"value", 0}});
  b.resource().set_version("bad");
  return b.resource();
}

std::string savedCopyBytes(const MOXPResource& resource, const std::string& fingerprint,
                           std::int64_t timeStampMillis) {
  MOXPResourceWithMetadata saved;
  saved.set_time_stamp(timeStampMillis);
  saved.mutable_resource();
  *saved.mutable_supplemented_resource()->mutable_resource() = resource;
  saved.mutable_supplemented_resource()->set_fingerprint(fingerprint);
  return saved.SerializeAsString();
}

// ---- ContainerServer -------------------------------------------------------------------------

ContainerServer::ContainerServer() {
  http_.setHandler("/r", [this](const LocalHttpServer::Request& request) {
    const std::string id = parameter(request, "id");
    std::lock_guard<std::mutex> lock(mu_);
    const auto it = entries_.find(id);
    LocalHttpServer::Response response = body(404, "no such container");
    if (it != entries_.end()) {
      MOXPLegacyRawProtoSupplementedResource answer;
      answer.set_fingerprint(it->second.fingerprint);
      if (parameter(request, "pv") != it->second.fingerprint) {
        answer.mutable_resource()->ParseFromString(it->second.bytes);
      }
      response = body(200, answer.SerializeAsString());
    }
    response.holdUntilReleased = held_.count(id) != 0;
    return response;
  });
}

void ContainerServer::setResource(const std::string& containerId, const MOXPResource& resource,
                                  const std::string& fingerprint) {
  std::lock_guard<std::mutex> lock(mu_);
  entries_[containerId] = {resource.SerializeAsString(), fingerprint};
}

void ContainerServer::holdFetchesOf(const std::string& containerId) {
  std::lock_guard<std::mutex> lock(mu_);
  held_.insert(containerId);
}

LocalHttpServer::Response ContainerServer::body(int status, std::string bytes) {
  LocalHttpServer::Response response;
  response.status = status;
  response.body = std::move(bytes);
  return response;
}

std::string ContainerServer::parameter(const LocalHttpServer::Request& fetch,
                                       const std::string& name) {
  const std::string query = "&" + fetch.query + "&";
  const auto at = query.find("&" + name + "=");
  if (at == std::string::npos) return "<absent>";
  const auto start = at + name.size() + 2;
  return query.substr(start, query.find('&', start) - start);
}

// ---- RecordingCallback -----------------------------------------------------------------------

namespace {

const char* typeName(MOXContainerCallbackRefreshType type) {
  return type == kMOXContainerCallbackRefreshTypeSaved ? "saved" : "network";
}

}  // namespace

void RecordingCallback::containerRefreshBegin(const std::shared_ptr<MOXContainer>&,
                                              MOXContainerCallbackRefreshType type) {
  add(std::string("begin ") + typeName(type));
}

void RecordingCallback::containerRefreshSuccess(const std::shared_ptr<MOXContainer>&,
                                                MOXContainerCallbackRefreshType type) {
  add(std::string("success ") + typeName(type));
}

void RecordingCallback::containerRefreshFailure(const std::shared_ptr<MOXContainer>&,
                                                MOXContainerCallbackRefreshFailure failure,
                                                MOXContainerCallbackRefreshType type) {
  add("failure " + std::to_string(failure) + " " + typeName(type));
}

void RecordingCallback::add(std::string line) {
  std::lock_guard<std::mutex> lock(mu_);
  events_.push_back(std::move(line));
}

std::vector<std::string> RecordingCallback::events() const {
  std::lock_guard<std::mutex> lock(mu_);
  return events_;
}

std::string RecordingCallback::last() const {
  std::lock_guard<std::mutex> lock(mu_);
  return events_.empty() ? std::string() : events_.back();
}

std::size_t RecordingCallback::count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return events_.size();
}

// ---- ContainerTestEnvironment ----------------------------------------------------------------

namespace {

class InertTimer final : public TimerHandle {
 public:
  void cancel() override {}
};

// Forwards to the test's manual loop without keeping it alive. A fetch still under way when a
// test ends holds the platform's main loop, and the loop would hold what the fetch posts to it
// (which holds the fetch): forwarding weakly lets the test's loop, and all that is queued on it,
// go with the test. What is posted after that is dropped.
class WeakLoop final : public EventLoop {
 public:
  explicit WeakLoop(const std::shared_ptr<EventLoop>& loop) : loop_(loop), name_(loop->name()) {}
  void post(Block block) override {
    if (const auto loop = loop_.lock()) loop->post(std::move(block));
  }
  std::shared_ptr<TimerHandle> postAfter(double delaySeconds, Block block) override {
    const auto loop = loop_.lock();
    if (!loop) return std::make_shared<InertTimer>();
    return loop->postAfter(delaySeconds, std::move(block));
  }
  std::shared_ptr<TimerHandle> postRepeating(double intervalSeconds, Block block) override {
    const auto loop = loop_.lock();
    if (!loop) return std::make_shared<InertTimer>();
    return loop->postRepeating(intervalSeconds, std::move(block));
  }
  bool isCurrent() const override {
    const auto loop = loop_.lock();
    return loop && loop->isCurrent();
  }
  const std::string& name() const override { return name_; }
  void postAndWait(Block block) override {
    if (const auto loop = loop_.lock()) loop->postAndWait(std::move(block));
  }

 private:
  const std::weak_ptr<EventLoop> loop_;
  const std::string name_;
};

void loopsHeldWeakly(Platform& platform) {
  platform.mainLoop = std::make_shared<WeakLoop>(platform.mainLoop);
  platform.background = std::make_shared<LoopExecutor>(platform.mainLoop);
}

}  // namespace

ContainerTestEnvironment::ContainerTestEnvironment() : platform_(loopsHeldWeakly) {
  MOXPreviewManager::instance()->clear();
}

ContainerTestEnvironment::~ContainerTestEnvironment() {
  MOXPreviewManager::instance()->clear();
  MOXManager::clearManagerInstance();
  // Work the managers queued on the manual loops (the data-layer store's restore among it) holds
  // the store it works for: run it, so nothing is left holding itself when the loops go.
  platform_.runUntilIdle();
}

std::shared_ptr<MOXManager> ContainerTestEnvironment::newManager() {
  auto manager = MOXManager::createWithSameInstance(false);
  manager->setVeskServerAddress(server_.address());
  managers_.push_back(manager);
  // The data layer restores its saved entries on the store's queue, which runs on the manual
  // loops: let it finish, so that a push from the test thread does not wait for it forever.
  platform_.runUntilIdle();
  return manager;
}

bool ContainerTestEnvironment::runUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    platform_.runUntilIdle();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool ContainerTestEnvironment::runUntilEvents(const RecordingCallback& callback,
                                              std::size_t count) {
  return runUntil([&] { return callback.count() >= count; });
}

std::string ContainerTestEnvironment::savedFilePath(const std::string& containerId) const {
  return platform_.dataRoot() + "/Library/Application Support/Orvex/Loomset/resource_" +
         containerId;
}

void ContainerTestEnvironment::writeSavedFile(const std::string& containerId,
                                              const std::string& bytes) const {
  const std::string path = savedFilePath(containerId);
  PosixFileSystem().createDirectories(path.substr(0, path.rfind('/')));
  PosixFileSystem().writeFileAtomically(path, bytes);
}

void ContainerTestEnvironment::writeBundleFile(const std::string& name,
                                               const std::string& bytes) const {
  PosixFileSystem().writeFileAtomically(platform_.resourceDirectory() + "/" + name, bytes);
}

}  // namespace loomset::testing
