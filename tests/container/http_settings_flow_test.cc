// The platform bundle's HTTP settings reach every request of the container half: container
// fetches and pixel hits go through the configured proxy, and the loader's own time-out gives
// way to the configured one.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "Library/Util/http/CurlHttpClient.h"
#include "container/LoadingTestSupport.h"
#include "container/MOXNetworking.h"
#include "container/loading/MOXResourceLoader.h"
#include "support/LocalHttpServer.h"
#include "support/LocalProxy.h"
#include "support/RecordingHttpClient.h"
#include "support/RecordingLoadCallback.h"
#include "support/RecordingLogger.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

using testing::LocalHttpServer;
using testing::LocalProxy;
using Recorder = testing::RecordingLoadCallback<MOXPLegacyRawProtoSupplementedResource>;

struct SilentWatcher : MOXReachabilityWatcher {
  bool start(FlagsCallback) override { return true; }
  void stop() override {}
};

class ContainerHttpSettingsTest : public ::testing::Test {
 protected:
  // A host name only the proxy resolves, at the test server's port.
  std::string viaProxyOnly(const std::string& host) const {
    return "http://" + host + ":" + std::to_string(server_.port());
  }

  LocalHttpServer server_;
  LocalProxy proxy_;
  testing::ScopedPlatform platform_{[this](Platform& p) {
    p.http = std::make_shared<CurlHttpClient>();
    p.httpSettings.proxy = proxy_.url();
    p.reachability = [](const std::string&, std::shared_ptr<EventLoop>) {
      return std::make_unique<SilentWatcher>();
    };
  }};
  testing::ScopedRecordingLogger log_;
};

TEST_F(ContainerHttpSettingsTest, ContainerFetchesGoThroughTheConfiguredProxy) {
  server_.setResponse("/r", LocalHttpServer::Response::text(404, "no container"));
  auto callback = std::make_shared<Recorder>();
  auto loader = MOXResourceLoader::create("GTM-PROXY");
  loader->setCallback(callback);
  loader->setVeskServerAddress(viaProxyOnly("vesk.loomset.test"));
  loader->loadResourceAsync();
  ASSERT_TRUE(testing::driveUntil(platform_.mainLoop(), [&] { return callback->results() > 0; }));

  const auto passed = proxy_.requests();
  ASSERT_EQ(passed.size(), 1u);
  EXPECT_EQ(passed[0].target, loader->veskUrl());
  ASSERT_EQ(server_.requestCount(), 1u);
  EXPECT_EQ(server_.requests()[0].path, "/r");
}

TEST_F(ContainerHttpSettingsTest, PixelHitsGoThroughTheConfiguredProxy) {
  server_.setResponse("/img", LocalHttpServer::Response::text(200, "gif"));
  auto networking = MOXNetworking::create();
  std::mutex mu;
  std::condition_variable cv;
  int status = -1;
  networking->sendURL(viaProxyOnly("pixel.loomset.test") + "/img?order=1",
                      [&](const std::shared_ptr<MOXNetOperation>& operation) {
                        std::lock_guard<std::mutex> lock(mu);
                        status = operation->response() ? operation->response()->status : 0;
                        cv.notify_all();
                      });
  std::unique_lock<std::mutex> lock(mu);
  ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return status != -1; }));
  EXPECT_EQ(status, 200);
  const auto passed = proxy_.requests();
  ASSERT_EQ(passed.size(), 1u);
  EXPECT_EQ(passed[0].target, viaProxyOnly("pixel.loomset.test") + "/img?order=1");
}

TEST(ContainerHttpSettings, EveryRequestCarriesTheAuthoritiesAndTheConfiguredTimeOut) {
  auto http = std::make_shared<testing::RecordingHttpClient>();
  testing::ScopedPlatform platform([&](Platform& p) {
    p.http = http;
    p.httpSettings.caBundlePath = "/etc/corp/ca.pem";
    p.httpSettings.noProxy = "intranet.example";
    p.httpSettings.requestTimeoutSeconds = 4;
    p.reachability = [](const std::string&, std::shared_ptr<EventLoop>) {
      return std::make_unique<SilentWatcher>();
    };
  });
  testing::ScopedRecordingLogger log;
  auto callback = std::make_shared<Recorder>();
  auto loader = MOXResourceLoader::create("GTM-1");  // its own time-out is 60 s
  loader->setCallback(callback);
  loader->loadResourceAsync();
  ASSERT_TRUE(testing::driveUntil(platform.mainLoop(), [&] { return callback->results() > 0; }));

  auto networking = MOXNetworking::create();
  std::mutex mu;
  std::condition_variable cv;
  bool sent = false;
  networking->sendURL("https://pixel.example.test/img", [&](const auto&) {
    std::lock_guard<std::mutex> lock(mu);
    sent = true;
    cv.notify_all();
  });
  {
    std::unique_lock<std::mutex> lock(mu);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return sent; }));
  }

  const auto requests = http->requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const HttpRequest& request : requests) {
    EXPECT_EQ(request.caBundlePath, "/etc/corp/ca.pem") << request.url;
    EXPECT_EQ(request.noProxy, "intranet.example") << request.url;
    EXPECT_FALSE(request.proxy) << request.url;  // the environment decides
    EXPECT_EQ(request.timeoutSeconds, 4) << request.url;
  }
}

}  // namespace
}  // namespace loomset
