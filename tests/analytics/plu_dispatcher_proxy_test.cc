// The analytics dispatcher sends its hits with the platform bundle's HTTP settings: through the
// configured proxy to a collector whose name only the proxy knows.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "loomset/platform/Platform.h"
#include "support/LocalProxy.h"
#include "support/PLUCollector.h"

namespace loomset {
namespace {

using testing::LocalProxy;
using testing::PLUDispatcherHarness;

TEST(PLUDispatcherProxy, HitsGoThroughTheConfiguredProxy) {
  LocalProxy proxy;
  std::string collectorBase;
  PLUDispatcherHarness h([&](PLUBatchingDispatcher::Options& options) {
    auto platform = std::make_shared<Platform>(*options.context.platform);
    platform->httpSettings.proxy = proxy.url();
    options.context.platform = platform;
    const std::string port = options.context.endpoints.plainBaseUrl.substr(
        options.context.endpoints.plainBaseUrl.rfind(':'));
    collectorBase = "http://collector.loomset.test" + port;
    options.context.endpoints.plainBaseUrl = collectorBase;
    options.context.endpoints.secureBaseUrl = collectorBase;
  });
  h.queue(PLUDispatcherHarness::eventHit("one"));
  h.queue(PLUDispatcherHarness::eventHit("two"));

  EXPECT_EQ(h.dispatchAndWait(), kPLUDispatchSent);
  const auto passed = proxy.requests();
  ASSERT_EQ(passed.size(), 1u);
  EXPECT_EQ(passed[0].method, "POST");
  EXPECT_EQ(passed[0].target, collectorBase + "/batch");
  const auto received = h.collector().requests();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].hits.size(), 2u);
  EXPECT_EQ(h.storedHits(), 0);
}

}  // namespace
}  // namespace loomset
