// The demo's path: the shop example fetches its compiled container from `loomset-devserver`,
// fires its tags and handlers, and sends its hits to the server's collector; the offline example
// starts from its shipped default, then from the copy it saved.
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
       {"Container GTM-SHOP version 4\n", "saleActive   (boolean) true",
        "maxCartItems (int64)   12", "loyaltyTier  (string)  bronze",
        "[handler bigOrder] order O-1001 totals 129.9", "lastScreen   = sale",
        "lastPurchase = {id=O-1001, total=129.9}", "bannerColor  (string)  red",
        "banner       (string)  Hello, ada!", "loyaltyTier  (string)  gold", "t=screenview cd=Sale",
        "t=event ec=cart ea=add el=umbrella ev=1", "t=transaction ti=O-1001", "in=Umbrella",
        "in=Boots",
        // Hits of the container's tags, dispatched through the manager: analytics, then the pixel.
        "Dispatching through the manager: sent sent nothing more",
        "t=screenview tid=__WEN_DEFAULT_TRACKER__", "t=transaction ti=O-1001 tid=UA-SHOP-TAGS",
        "pa=purchase pr1id=U-1", "GET /collect  ds=pixel order=O-1001 t=pixel total=129.9"}) {
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

TEST(DevServerShop, TheOfflineExampleStartsFromTheShippedCopyThenTheSavedOne) {
  DevServerProcess server({"--containers", LOOMSET_SHOP_CONTAINERS});
  ASSERT_TRUE(server.started());
  TempDir dir;
  const std::string command = std::string("'") + LOOMSET_OFFLINE_PATH + "' " + server.baseUrl() +
                              " >" + dir.file("out") + " 2>" + dir.file("err") + " </dev/null";
  const int status = std::system(command.c_str());
  const std::string out = readFile(dir.file("out"));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out << readFile(dir.file("err"));
  EXPECT_EQ(out,
            "First start, offline: Hello from the copy shipped with the app, 12 tiles (the shipped "
            "default)\n"
            "Online: Hello from the published container, 24 tiles (version 2)\n"
            "Next start, offline: Hello from the published container, 24 tiles (version 2)\n");
}

#endif

}  // namespace
}  // namespace loomset::testing
