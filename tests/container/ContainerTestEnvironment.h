// What the container, manager, opener and preview tests share: serving resources to serve, a
// container server on 127.0.0.1, a recording container callback, and an environment of fakes
// (clock, main loop, data root, bundle) with a manager pointed at the server.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "loomset/MOXContainer.h"
#include "loomset/MOXManager.h"
#include "loomset/proto/resource_with_metadata.pb.h"
#include "loomset/proto/serving.pb.h"
#include "support/LocalHttpServer.h"
#include "support/RecordingLogger.h"
#include "support/ScopedPlatform.h"

namespace loomset::testing {

// A resource of constant macros, name -> text.
MOXPResource constantResource(const std::string& version,
                              const std::vector<std::pair<std::string, std::string>>& macros);
// A resource that parses but does not expand (a list that holds itself).
MOXPResource invalidResource();
// A saved copy as a container writes it.
std::string savedCopyBytes(const MOXPResource& resource, const std::string& fingerprint,
                           std::int64_t timeStampMillis);

// Answers "/r?id=ID&v=...[&pv=...]" like a container server: 200 with the resource and its
// fingerprint, 200 with the fingerprint alone when "pv" names it, 404 for an unknown id.
// Scripted responses (`enqueue`) go first.
class ContainerServer {
 public:
  ContainerServer();
  void setResource(const std::string& containerId, const MOXPResource& resource,
                   const std::string& fingerprint);
  void enqueue(LocalHttpServer::Response response) { http_.enqueueResponse("/r", response); }
  // From now on, fetches of the id are held unanswered until the server goes or they are released.
  void holdFetchesOf(const std::string& containerId);
  // Lets every held fetch (present and future ones) be answered.
  void releaseHeldFetches() { http_.releaseHeldResponses(); }
  static LocalHttpServer::Response body(int status, std::string body);

  std::string address() const { return http_.baseUrl(); }
  std::vector<LocalHttpServer::Request> fetches() const { return http_.requests(); }
  std::size_t fetchCount() const { return http_.requestCount(); }
  // The value of a query parameter of a fetch, or "<absent>".
  static std::string parameter(const LocalHttpServer::Request& fetch, const std::string& name);

 private:
  struct Entry {
    std::string bytes;
    std::string fingerprint;
  };
  std::mutex mu_;
  std::map<std::string, Entry> entries_;  // guarded by mu_
  std::set<std::string> held_;            // guarded by mu_
  // Last, so that it goes first: its threads, which call the handler, end before the maps do.
  LocalHttpServer http_;
};

// Keeps every call as a line: "begin saved", "success network", "failure 4 network", ...
class RecordingCallback final : public MOXContainerCallback {
 public:
  void containerRefreshBegin(const std::shared_ptr<MOXContainer>&,
                             MOXContainerCallbackRefreshType type) override;
  void containerRefreshSuccess(const std::shared_ptr<MOXContainer>&,
                               MOXContainerCallbackRefreshType type) override;
  void containerRefreshFailure(const std::shared_ptr<MOXContainer>&,
                               MOXContainerCallbackRefreshFailure failure,
                               MOXContainerCallbackRefreshType type) override;
  std::vector<std::string> events() const;
  std::string last() const;
  std::size_t count() const;

 private:
  void add(std::string line);
  mutable std::mutex mu_;
  std::vector<std::string> events_;
};

class ContainerTestEnvironment {
 public:
  ContainerTestEnvironment();
  ~ContainerTestEnvironment();

  ScopedPlatform& platform() { return platform_; }
  ContainerServer& server() { return server_; }
  RecordingLogger& log() { return *log_; }

  // A new manager (not the remembered one) whose containers fetch from the server.
  std::shared_ptr<MOXManager> newManager();
  // Runs the main loop until `done` holds, waiting for answers from the network; false when it
  // does not hold within 20 seconds.
  bool runUntil(const std::function<bool()>& done);
  // Runs until the callback has heard `count` calls.
  bool runUntilEvents(const RecordingCallback& callback, std::size_t count);

  std::string savedFilePath(const std::string& containerId) const;
  void writeSavedFile(const std::string& containerId, const std::string& bytes) const;
  void writeBundleFile(const std::string& name, const std::string& bytes) const;

 private:
  ScopedPlatform platform_;
  ScopedRecordingLogger log_;
  ContainerServer server_;
  std::vector<std::shared_ptr<MOXManager>> managers_;
};

}  // namespace loomset::testing
