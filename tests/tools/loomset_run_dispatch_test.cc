// `loomset run --container-id` delivering hits: a container whose rules fire the analytics tag and
// a pixel tag, served and collected by `loomset-devserver` on 127.0.0.1, dispatched through the
// manager by "dispatch" steps and by the pixel dispatcher's own timer on simulated time.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "tools/DevServerProcess.h"
#include "tools/ToolProcess.h"

namespace loomset::testing {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::int64_t kStart = 1700000000000;

// On "view" an analytics pass-through screen view; on "view" and "buy" a pixel to the URL the
// push carries as "pixel"; on "purchase" a transaction with its items, an enhanced-commerce hit
// and a pixel once per order with additional parameters.
Json deliveringContainer() {
  return Json::parse(R"({
    "version": "1",
    "macros": {
      "eventName": {"function": "_e"},
      "pixelUrl": {"function": "_v", "properties": {"name": "pixel"}},
      "orderId": {"function": "_v", "properties": {"name": "transactionId"}}
    },
    "predicates": {
      "isView": {"function": "_eq", "properties": {"arg0": {"$macro": "eventName"}, "arg1": "view"}},
      "isBuy": {"function": "_eq", "properties": {"arg0": {"$macro": "eventName"}, "arg1": "buy"}},
      "isPurchase": {"function": "_eq", "properties": {"arg0": {"$macro": "eventName"}, "arg1": "purchase"}}
    },
    "tags": {
      "screenView": {
        "function": "_qr",
        "properties": {
          "analytics_pass_through": true,
          "analytics_fields": {"&t": "screenview", "&tid": "UA-RUN-1", "&cd": "home"}
        }
      },
      "pixel": {"function": "_img", "properties": {"url": {"$macro": "pixelUrl"}}},
      "transaction": {
        "function": "_qr",
        "properties": {"track_transaction": true, "account": "UA-RUN-1", "analytics_fields": {"&cd": "checkout"}}
      },
      "commerce": {
        "function": "_qr",
        "properties": {
          "enable_ecommerce": true,
          "ecommerce_use_data_layer": true,
          "analytics_fields": {"&t": "event", "&ec": "shop", "&ea": "purchase", "&tid": "UA-RUN-1"}
        }
      },
      "orderPixel": {
        "function": "_img",
        "properties": {
          "url": {"$macro": "pixelUrl"},
          "unrepeatable": {"$macro": "orderId"},
          "additional_params": [{"order": {"$macro": "orderId"}}, {"note": "a b&c=d"}, {"z": "1"}]
        }
      }
    },
    "rules": [
      {"if": ["isView"], "addTags": ["screenView", "pixel"]},
      {"if": ["isBuy"], "addTags": ["pixel"]},
      {"if": ["isPurchase"], "addTags": ["transaction", "commerce", "orderPixel"]}
    ]
  })");
}

class LoomsetRunDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.started());
    const std::string source = work.file("GTM-DLV.json");
    writeFile(source, deliveringContainer().dump());
    const ToolResult compiled = runTool({"compile", source, "-o", containers.file("GTM-DLV")});
    ASSERT_EQ(compiled.exitCode, 0) << compiled.err;
  }

  std::vector<Json> run(const std::vector<std::string>& steps,
                        const std::vector<std::string>& options) {
    std::string text;
    for (const std::string& step : steps) text += step + "\n";
    writeFile(work.file("steps.jsonl"), text);
    std::vector<std::string> args{"run",
                                  "--container-id",
                                  "GTM-DLV",
                                  "--steps",
                                  work.file("steps.jsonl"),
                                  "--data-dir",
                                  work.file("data"),
                                  "--log-level",
                                  "none",
                                  "--container-server",
                                  server.baseUrl(),
                                  "--clock-start",
                                  std::to_string(kStart)};
    args.insert(args.end(), options.begin(), options.end());
    const ToolResult r = runTool(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return jsonLines(r.out);
  }

  std::string push(const std::string& event, const std::string& pixelPath) const {
    return Json{{"push", {{"event", event}, {"pixel", server.url(pixelPath)}}}}.dump();
  }

  // Requests the server logged for `path` ("GET /broken 404 21").
  std::size_t requestsFor(const std::string& path) const {
    const std::string err = server.standardError();
    const std::string needle = "GET " + path + " ";
    std::size_t count = 0;
    for (std::size_t at = err.find(needle); at != std::string::npos;
         at = err.find(needle, at + 1)) {
      ++count;
    }
    return count;
  }

  // Output lines of "dispatch" steps only.
  static std::vector<int> outcomes(const std::vector<Json>& lines) {
    std::vector<int> found;
    for (const Json& line : lines) {
      if (line.contains("dispatch")) found.push_back(line.at("dispatch").get<int>());
    }
    return found;
  }

  TempDir work;
  TempDir containers;
  DevServerProcess server{{"--containers", containers.path()}, /*logRequests=*/true};
};

TEST_F(LoomsetRunDispatch, AFailingPixelIsRetriedEvery120SecondsAndDroppedAfterFourHours) {
  const auto lines = run(
      {
          R"({"open": true})",
          push("buy", "/broken"),
          // Sent at once by hand, and failed (404); the timer (120 s) follows the simulated clock.
          R"({"dispatch": true})",
          // Within 120 s of that failure the hit is not fetched: nothing to send.
          R"({"advance": 119999})",
          R"({"dispatch": true})",
          // The timer at 120 s tries it again (a second request), then every 120 s for 4 hours.
          R"({"advance": 1})",
          R"({"advance": 14280000})",
          // At exactly 4 hours after the first failure it still fails and stays; the attempt
          // after that gives it up.
          R"({"advance": 120000})",
          R"({"dispatch": true})",
          R"({"advance": 3600000})",
      },
      {"--collector-secure", server.baseUrl()});
  EXPECT_EQ(outcomes(lines), (std::vector<int>{2, 0, 0}));
  // Attempts at 0 s, 120 s, 240 s, ... 14,400 s (failed) and 14,520 s (given up).
  EXPECT_EQ(requestsFor("/broken"), 1u + 14520u / 120u);
}

TEST_F(LoomsetRunDispatch, HitsOfTagsReachTheCollectorsAndTheWrappedPixelURL) {
  const auto lines =
      run({R"({"open": true})", push("view", "/collect?t=pixel&ds=tag"), R"({"dispatch": true})",
           R"({"dispatch": true})", R"({"dispatch": true})"},
          {"--collector-plain", server.baseUrl(), "--pixel-wrapper", server.url("/collect"), "w"});
  // The analytics hit first, then the pixel, then nothing.
  EXPECT_EQ(outcomes(lines), (std::vector<int>{1, 1, 0}));

  const Json hits = Json::parse(httpGet(server.url("/hits?min=2&timeout=5000")).body);
  ASSERT_EQ(hits.size(), 2u) << hits.dump();
  EXPECT_EQ(hits[0]["params"]["t"], "screenview");
  EXPECT_EQ(hits[0]["params"]["tid"], "UA-RUN-1");
  EXPECT_EQ(hits[0]["params"]["cd"], "home");
  EXPECT_EQ(hits[1]["method"], "GET");
  EXPECT_EQ(hits[1]["params"]["w"], server.url("/collect?t=pixel&ds=tag"));
}

TEST_F(LoomsetRunDispatch, APurchaseSendsTransactionItemsCommerceAndOnePixelPerOrder) {
  const auto purchase = [&](const std::string& order) {
    return Json{
        {"push",
         {{"event", "purchase"},
          {"pixel", server.url("/collect?t=pixel")},
          {"transactionId", order},
          {"transactionTotal", 42.5},
          {"transactionProducts",
           {{{"name", "Mug"}, {"sku", "M1"}, {"price", 10}}, {{"name", "Tea"}, {"quantity", 3}}}},
          {"ecommerce",
           {{"currencyCode", "USD"},
            {"purchase",
             {{"actionField", {{"id", order}, {"revenue", "42.5"}}},
              {"products", {{{"id", "P1"}, {"price", "10"}}}}}}}}}}}
        .dump();
  };
  const std::vector<std::string> drain{R"({"dispatch": true})", R"({"dispatch": true})",
                                       R"({"dispatch": true})", R"({"dispatch": true})"};
  const std::vector<std::string> collector{"--collector-secure", server.baseUrl()};
  std::vector<std::string> steps{R"({"open": true})", purchase("T-7")};
  steps.insert(steps.end(), drain.begin(), drain.end());
  run(steps, collector);

  const Json hits = Json::parse(httpGet(server.url("/hits?min=5&timeout=5000&clear=1")).body);
  std::vector<Json> analytics, pixels;
  for (const Json& hit : hits) {
    (hit["params"].value("t", "") == "pixel" ? pixels : analytics).push_back(hit["params"]);
  }
  ASSERT_EQ(analytics.size(), 4u) << hits.dump();
  // The transaction, then its items in order, then the commerce hit (the rule's tag order).
  EXPECT_EQ(analytics[0]["t"], "transaction");
  EXPECT_EQ(analytics[0]["tid"], "UA-RUN-1");
  EXPECT_EQ(analytics[0]["ti"], "T-7");
  EXPECT_EQ(analytics[0]["tr"], "42.5");
  EXPECT_EQ(analytics[0]["cd"], "checkout");
  EXPECT_EQ(analytics[1]["t"], "item");
  EXPECT_EQ(analytics[1]["in"], "Mug");
  EXPECT_EQ(analytics[1]["ic"], "M1");
  EXPECT_EQ(analytics[2]["t"], "item");
  EXPECT_EQ(analytics[2]["in"], "Tea");
  EXPECT_EQ(analytics[2]["iq"], "3");
  EXPECT_EQ(analytics[3]["t"], "event");
  EXPECT_EQ(analytics[3]["pa"], "purchase");
  EXPECT_EQ(analytics[3]["ti"], "T-7");
  EXPECT_EQ(analytics[3]["cu"], "USD");
  EXPECT_EQ(analytics[3]["pr1id"], "P1");
  ASSERT_EQ(pixels.size(), 1u);
  EXPECT_EQ(pixels[0]["order"], "T-7");
  EXPECT_EQ(pixels[0]["note"], "a b&c=d");
  // Appended in list order, escaped.
  EXPECT_NE(server.standardError().find("GET /collect?t=pixel&order=T-7&note=a%20b%26c%3Dd&z=1 "),
            std::string::npos)
      << server.standardError();

  // Over the same data directory: the order already pixelled sends no pixel, a new one does.
  steps = {R"({"open": true})", purchase("T-7"), purchase("T-8")};
  steps.insert(steps.end(), drain.begin(), drain.end());
  run(steps, collector);
  const Json again = Json::parse(httpGet(server.url("/hits?min=9&timeout=5000")).body);
  std::vector<std::string> pixelOrders;
  for (const Json& hit : again) {
    if (hit["params"].value("t", "") == "pixel") pixelOrders.push_back(hit["params"]["order"]);
  }
  EXPECT_EQ(pixelOrders, std::vector<std::string>{"T-8"});
}

TEST_F(LoomsetRunDispatch, ABurstOf61PixelsSends60) {
  std::vector<std::string> steps{R"({"open": true})"};
  for (int i = 0; i < 61; ++i) steps.push_back(push("buy", "/collect?t=burst"));
  // Forty at the first timer fire, the rest at the next.
  steps.push_back(R"({"advance": 600000})");
  run(steps, {"--collector-secure", server.baseUrl()});
  EXPECT_EQ(requestsFor("/collect?t=burst"), 60u);
}

TEST_F(LoomsetRunDispatch, OptionsAreCheckedBeforeAnythingRuns) {
  const auto bad = [&](std::vector<std::string> options) {
    std::vector<std::string> args{"run", "--container-id", "GTM-DLV", "--container-server",
                                  server.baseUrl()};
    args.insert(args.end(), options.begin(), options.end());
    return runTool(args, "").exitCode;
  };
  EXPECT_EQ(bad({"--pixel-wrapper", server.url("/w")}), 1);
  EXPECT_EQ(bad({"--pixel-wrapper", "no-scheme", "p"}), 1);
  EXPECT_EQ(bad({"--collector-secure", "127.0.0.1:80"}), 1);
  const ToolResult file = runTool({"run", "container.bin", "--pixel-wrapper", "http://x", "p"});
  EXPECT_EQ(file.exitCode, 1);
  EXPECT_NE(file.err.find("--pixel-wrapper goes with --container-id"), std::string::npos)
      << file.err;
}

}  // namespace
}  // namespace loomset::testing
