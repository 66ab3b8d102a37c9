// The demo's path: the shop example fetches its compiled container from `loomset-devserver`,
// fires its tags and handlers, and sends its hits to the server's collector.
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "tools/DevServerProcess.h"
#include "tools/ToolProcess.h"

namespace loomset::testing {
namespace {

#ifdef LOOMSET_SHOP_PATH

TEST(DevServerShop, TheShopRunsAgainstTheServer) {
  DevServerProcess server({"--containers", LOOMSET_SHOP_CONTAINERS});
  ASSERT_TRUE(server.started());
  TempDir dir;
  const std::string command = std::string("'") + LOOMSET_SHOP_PATH + "' " + server.baseUrl() +
                              " >" + dir.file("out") + " 2>" + dir.file("err") + " </dev/null";
  const int status = std::system(command.c_str());
  const std::string out = readFile(dir.file("out"));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out << readFile(dir.file("err"));

  for (const char* expected :
       {"fetched again with pv=", ": unchanged", "saleActive   (boolean) true",
        "maxCartItems (int64)   12", "loyaltyTier  (string)  bronze",
        "[handler bigOrder] order O-1001 totals 129.9", "lastScreen   = sale",
        "lastPurchase = {id=O-1001, total=129.9}", "bannerColor  (string)  red",
        "banner       (string)  Hello, ada!", "loyaltyTier  (string)  gold", "t=screenview cd=Sale",
        "t=event ec=cart ea=add el=umbrella ev=1", "t=transaction ti=O-1001", "in=Umbrella",
        "in=Boots"}) {
    EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
  }

  const auto hits =
      nlohmann::ordered_json::parse(httpGet(server.url("/hits?min=5&timeout=20000")).body);
  ASSERT_EQ(hits.size(), 5u);
  for (const auto& hit : hits) {
    EXPECT_EQ(hit["params"].value("tid", ""), "UA-SHOP-1");
    EXPECT_EQ(hit["params"].value("an", ""), "Loomset Shop");
  }
}

#endif

}  // namespace
}  // namespace loomset::testing
