// `loomset run --container-id` as a child process against `loomset-devserver` on 127.0.0.1: the
// library's real manager, containers, saved copies and fetches, on simulated time unless a test
// says otherwise.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

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
constexpr std::int64_t kHour = 3600000;

// A port on 127.0.0.1 that nothing listens on (bound once, then released).
int closedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ADD_FAILURE() << "cannot find a free port";
  }
  close(fd);
  return ntohs(address.sin_port);
}

Json callback(const std::string& kind, const std::string& id, const std::string& type) {
  Json line = Json::object();
  line["callback"] = kind;
  line["container"] = id;
  line["type"] = type;
  return line;
}

Json failure(const std::string& id, const std::string& type, int code) {
  Json line = callback("failure", id, type);
  line["failure"] = code;
  return line;
}

Json state(const std::string& id, bool isDefault, const std::string& version,
           std::int64_t lastRefreshTime) {
  Json line = Json::object();
  line["state"] = id;
  line["isDefault"] = isDefault;
  line["version"] = version;
  line["lastRefreshTime"] = lastRefreshTime;
  return line;
}

// What opening a container without a saved copy prints when the server has it.
std::vector<Json> firstOpen(const std::string& id) {
  return {Json{{"open", id}, {"ok", true}}, callback("begin", id, "saved"), failure(id, "saved", 0),
          callback("begin", id, "network"), callback("success", id, "network")};
}

class LoomsetRunManager : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.started());
    publish("GTM-SHOP", "7", "Welcome to the shop");
  }

  // Compiles a container holding "greeting" into the server's directory under `file`.
  void publish(const std::string& file, const std::string& version, const std::string& greeting) {
    const std::string source = work.file(file + ".json");
    writeFile(source,
              Json{{"version", version},
                   {"macros",
                    {{"greeting", {{"function", "_c"}, {"properties", {{"value", greeting}}}}}}}}
                  .dump());
    const ToolResult compiled = runTool({"compile", source, "-o", containers.file(file)});
    ASSERT_EQ(compiled.exitCode, 0) << compiled.err;
  }

  std::vector<std::string> simulated(std::int64_t start = kStart) const {
    return {"--container-server", server.baseUrl(), "--clock-start", std::to_string(start)};
  }

  // Runs the steps for --container-id GTM-SHOP over `dataDir`; the output lines.
  std::vector<Json> run(const std::vector<std::string>& steps, std::vector<std::string> options,
                        const std::string& dataDir = "data", ToolResult* result = nullptr) {
    std::string text;
    for (const std::string& step : steps) text += step + "\n";
    writeFile(work.file("steps.jsonl"), text);
    std::vector<std::string> args{
        "run",        "--container-id",   "GTM-SHOP",    "--steps", work.file("steps.jsonl"),
        "--data-dir", work.file(dataDir), "--log-level", "none"};
    args.insert(args.end(), options.begin(), options.end());
    const ToolResult r = runTool(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    if (result) *result = r;
    return jsonLines(r.out);
  }

  // The fetches the server logged ("GET /r?id=... 200 1772"), in order.
  std::vector<std::string> fetches() const {
    std::vector<std::string> lines;
    const std::string err = server.standardError();
    std::size_t at = 0;
    while ((at = err.find("GET /r?", at)) != std::string::npos) {
      const std::size_t end = err.find('\n', at);
      lines.push_back(err.substr(at, end == std::string::npos ? end : end - at));
      at = end;
    }
    return lines;
  }

  TempDir work;
  TempDir containers;
  DevServerProcess server{{"--containers", containers.path()}, /*logRequests=*/true};
};

TEST_F(LoomsetRunManager, FirstOpenFetchesAndASecondRunStartsFromTheSavedCopy) {
  auto lines = run({R"({"state": true})", R"({"open": true})", R"({"state": "GTM-SHOP"})",
                    R"({"get": "greeting"})"},
                   simulated());
  std::vector<Json> expected{Json{{"state", "GTM-SHOP"}, {"open", false}}};
  for (const Json& line : firstOpen("GTM-SHOP")) expected.push_back(line);
  expected.push_back(state("GTM-SHOP", false, "7", kStart));
  expected.push_back(
      Json{{"get", "greeting"}, {"type", "string"}, {"value", "Welcome to the shop"}});
  EXPECT_EQ(lines, expected);
  ASSERT_EQ(fetches().size(), 1u);
  EXPECT_EQ(fetches()[0].find("pv="), std::string::npos) << fetches()[0];

  // Thirteen hours later the saved copy is applied first and is too old: it is fetched again at
  // once, naming the fingerprint it has.
  publish("GTM-SHOP", "8", "Welcome back");
  const std::int64_t later = kStart + 13 * kHour;
  lines =
      run({R"({"open": true})", R"({"state": true})", R"({"get": "greeting"})"}, simulated(later));
  EXPECT_EQ(lines, (std::vector<Json>{
                       Json{{"open", "GTM-SHOP"}, {"ok", true}},
                       callback("begin", "GTM-SHOP", "saved"),
                       callback("success", "GTM-SHOP", "saved"),
                       callback("begin", "GTM-SHOP", "network"),
                       callback("success", "GTM-SHOP", "network"),
                       state("GTM-SHOP", false, "8", later),
                       Json{{"get", "greeting"}, {"type", "string"}, {"value", "Welcome back"}},
                   }));
  ASSERT_EQ(fetches().size(), 2u);
  EXPECT_NE(fetches()[1].find("&pv="), std::string::npos) << fetches()[1];

  // One hour after that fetch the saved copy is fresh: the next fetch waits for the rest of the
  // twelve hours.
  const std::int64_t fresh = later + kHour;
  lines = run({R"({"open": true})", R"({"advance": 39599999})", R"({"state": true})",
               R"({"advance": 1})", R"({"state": true})"},
              simulated(fresh));
  EXPECT_EQ(lines, (std::vector<Json>{
                       Json{{"open", "GTM-SHOP"}, {"ok", true}},
                       callback("begin", "GTM-SHOP", "saved"),
                       callback("success", "GTM-SHOP", "saved"),
                       state("GTM-SHOP", false, "8", later),
                       callback("begin", "GTM-SHOP", "network"),
                       callback("success", "GTM-SHOP", "network"),
                       state("GTM-SHOP", false, "8", later + 12 * kHour),
                   }));
}

TEST_F(LoomsetRunManager, FailedFetchesReportTheirCodeAndRetryAfterAnHour) {
  auto lines = run({R"({"open": "GTM-NONE"})", R"({"advance": 3599999})", R"({"advance": 1})",
                    R"({"state": "GTM-NONE"})"},
                   simulated());
  EXPECT_EQ(lines, (std::vector<Json>{
                       Json{{"open", "GTM-NONE"}, {"ok", true}},
                       callback("begin", "GTM-NONE", "saved"),
                       failure("GTM-NONE", "saved", 0),
                       callback("begin", "GTM-NONE", "network"),
                       failure("GTM-NONE", "network", 4),
                       callback("begin", "GTM-NONE", "network"),
                       failure("GTM-NONE", "network", 4),
                       state("GTM-NONE", true, "", 0),
                   }));
  EXPECT_EQ(fetches().size(), 2u);

  // Nothing listens: the request is handed over, then fails as no network.
  lines = run({R"({"open": true})"},
              {"--container-server", "http://127.0.0.1:" + std::to_string(closedPort()),
               "--clock-start", std::to_string(kStart)});
  EXPECT_EQ(lines, (std::vector<Json>{
                       Json{{"open", "GTM-SHOP"}, {"ok", true}},
                       callback("begin", "GTM-SHOP", "saved"),
                       failure("GTM-SHOP", "saved", 0),
                       callback("begin", "GTM-SHOP", "network"),
                       failure("GTM-SHOP", "network", 2),
                   }));
}

TEST_F(LoomsetRunManager, OpenersCompleteWithTheirStepOrLaterWhenPending) {
  // Standard mode: the opening completes within the step, after the work it caused; an opener
  // for an open id completes at once.
  auto lines = run({R"({"opener": true, "type": "preferFresh"})",
                    R"({"opener": true, "type": "preferNonDefault", "timeout": 1})"},
                   simulated());
  EXPECT_EQ(lines, (std::vector<Json>{
                       Json{{"opener", "GTM-SHOP"}, {"isDefault", false}, {"version", "7"}},
                       Json{{"opener", "GTM-SHOP"}, {"isDefault", false}, {"version", "7"}},
                   }));

  // Default-container mode never calls back: the opening waits for its timeout, and its line
  // comes with the step that reaches it, after the lines of that step.
  lines = run({R"({"opener": true, "type": "preferNonDefault", "timeout": 3})",
               R"({"opener": "GTM-OTHER", "type": "preferFresh"})", R"({"advance": 1999})",
               R"({"state": "GTM-OTHER"})", R"({"advance": 1})", R"({"advance": 999})",
               R"({"state": true})", R"({"advance": 1})", R"({"refresh": true})"},
              {"--refresh-mode", "default-container", "--clock-start", std::to_string(kStart)},
              "default");
  EXPECT_EQ(lines, (std::vector<Json>{
                       Json{{"opener", "GTM-SHOP"}, {"pending", true}},
                       Json{{"opener", "GTM-OTHER"}, {"pending", true}},
                       state("GTM-OTHER", true, "", 0),
                       Json{{"opener", "GTM-OTHER"}, {"isDefault", true}, {"version", ""}},
                       state("GTM-SHOP", true, "", 0),
                       Json{{"opener", "GTM-SHOP"}, {"isDefault", true}, {"version", ""}},
                   }));
  EXPECT_TRUE(fetches().size() == 1u) << "default-container mode fetched";
}

TEST_F(LoomsetRunManager, RefreshGoesThroughTheTokenBucketAndClosedContainersAreNotOpen) {
  const auto lines = run(
      {
          R"({"open": true})",
          R"({"refresh": true})",  // the first refresh is always accepted
          R"({"advance": 4999})",
          R"({"refresh": true})",  // within 5 seconds: ignored
          R"({"advance": 1})",
          R"({"refresh": true})",
          R"({"close": true})",
          R"({"state": true})",
          R"({"get": "greeting"})",
          R"({"refresh": true})",
          R"({"close": "GTM-SHOP"})",
          R"({"advance": 43200000})",
          R"({"open": true})",
      },
      simulated());
  std::vector<Json> expected = firstOpen("GTM-SHOP");
  for (int i = 0; i < 2; ++i) {
    expected.push_back(callback("begin", "GTM-SHOP", "network"));
    expected.push_back(callback("success", "GTM-SHOP", "network"));
  }
  expected.push_back(Json{{"state", "GTM-SHOP"}, {"open", false}});
  for (int line : {9, 10, 11}) {
    expected.push_back(Json{{"error", "NotOpen"}, {"container", "GTM-SHOP"}, {"line", line}});
  }
  // Nothing was fetched while closed; opened again, the container starts from the saved copy.
  expected.push_back(Json{{"open", "GTM-SHOP"}, {"ok", true}});
  expected.push_back(callback("begin", "GTM-SHOP", "saved"));
  expected.push_back(callback("success", "GTM-SHOP", "saved"));
  expected.push_back(callback("begin", "GTM-SHOP", "network"));
  expected.push_back(callback("success", "GTM-SHOP", "network"));
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(fetches().size(), 4u);
}

TEST_F(LoomsetRunManager, PreviewLinksSwitchTheFetchedVersion) {
  publish("GTM-SHOP.preview", "7-draft", "Draft shop");
  const std::string enter = "loomset.c.app://preview/p?id=GTM-SHOP&wen_auth=k&wen_preview=3";
  const std::string exit = "loomset.c.app://preview/p?id=GTM-SHOP&wen_preview=";
  const auto lines = run(
      {
          R"({"open": true})",
          R"({"preview": ")" + enter + R"("})",
          R"({"get": "greeting"})",
          R"({"advance": 5000})",
          R"({"preview": "loomset.c.app://preview/p?id=GTM-SHOP&wen_auth=k&wen_preview=x"})",
          R"({"preview": ")" + exit + R"("})",
          R"({"get": "greeting"})",
      },
      simulated());
  std::vector<Json> expected = firstOpen("GTM-SHOP");
  for (const Json& line : std::vector<Json>{
           Json{{"preview", enter}, {"accepted", true}},
           callback("begin", "GTM-SHOP", "network"),
           callback("success", "GTM-SHOP", "network"),
           Json{{"get", "greeting"}, {"type", "string"}, {"value", "Draft shop"}},
           Json{{"preview", "loomset.c.app://preview/p?id=GTM-SHOP&wen_auth=k&wen_preview=x"},
                {"accepted", false}},
           Json{{"preview", exit}, {"accepted", true}},
           callback("begin", "GTM-SHOP", "network"),
           callback("success", "GTM-SHOP", "network"),
           Json{{"get", "greeting"}, {"type", "string"}, {"value", "Welcome to the shop"}},
       }) {
    expected.push_back(line);
  }
  EXPECT_EQ(lines, expected);
  const auto logged = fetches();
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_NE(logged[1].find("wen_auth=k&wen_preview=3"), std::string::npos) << logged[1];
  EXPECT_EQ(logged[2].find("wen_preview"), std::string::npos) << logged[2];
}

TEST_F(LoomsetRunManager, EventsReachEveryOpenContainerAndGetsNameTheirContainer) {
  for (const char* id : {"GTM-FULL", "GTM-MORE"}) {
    ASSERT_EQ(runTool({"compile", exampleSource("shop.json"), "-o", containers.file(id)}).exitCode,
              0);
  }
  const auto lines = run(
      {
          R"({"open": true})",
          R"({"open": "GTM-FULL"})",
          R"({"open": "GTM-MORE"})",
          R"({"open": "GTM-FULL"})",
          R"({"get": "maxItems", "type": "int64", "container": "GTM-FULL"})",
          R"({"get": "maxItems", "type": "int64"})",
          R"({"get": "loyaltyTier", "container": "GTM-FULL"})",
          R"({"push": {"event": "purchase", "order": {"total": 150.5}}})",
          R"({"dl": "lastPurchase.total"})",
          R"({"get": "greeting", "container": "GTM-GONE"})",
      },
      {"--tag-handler", "bigOrder", "--macro-handler", R"(tierFor="gold")", "--container-server",
       server.baseUrl(), "--clock-start", std::to_string(kStart)});
  std::vector<Json> expected = firstOpen("GTM-SHOP");
  for (const Json& line : firstOpen("GTM-FULL")) expected.push_back(line);
  for (const Json& line : firstOpen("GTM-MORE")) expected.push_back(line);
  // The event reaches both shop containers; the other one has no tags.
  for (const Json& line : std::vector<Json>{
           Json{{"open", "GTM-FULL"}, {"ok", false}},
           Json{{"get", "maxItems"}, {"type", "int64"}, {"value", 12}},
           Json{{"get", "maxItems"}, {"type", "int64"}, {"value", 0}},
           Json{{"get", "loyaltyTier"}, {"type", "string"}, {"value", "gold"}},
           Json{{"tag", "bigOrder"}, {"params", {{"total", "150.5"}}}},
           Json{{"tag", "bigOrder"}, {"params", {{"total", "150.5"}}}},
           Json{{"dl", "lastPurchase.total"}, {"value", "150.5"}},
           Json{{"error", "NotOpen"}, {"container", "GTM-GONE"}, {"line", 10}},
       }) {
    expected.push_back(line);
  }
  EXPECT_EQ(lines, expected);
}

TEST_F(LoomsetRunManager, BundleDefaultsAnswerUntilSomethingIsLoaded) {
  TempDir bundle;
  ASSERT_EQ(
      runTool({"compile", exampleSource("shop.json"), "-o", bundle.file("GTM-SHOP")}).exitCode, 0);
  const auto lines = run({R"({"open": true})", R"({"state": true})",
                          R"({"get": "maxItems", "type": "int64"})", R"({"refresh": true})"},
                         {"--bundle", bundle.path(), "--refresh-mode", "default-container",
                          "--clock-start", std::to_string(kStart)});
  EXPECT_EQ(lines, (std::vector<Json>{
                       Json{{"open", "GTM-SHOP"}, {"ok", true}},
                       state("GTM-SHOP", true, "7", 0),
                       Json{{"get", "maxItems"}, {"type", "int64"}, {"value", 12}},
                   }));
  EXPECT_TRUE(fetches().empty());
}

TEST_F(LoomsetRunManager, TheSameRunPrintsTheSameOutputEveryTime) {
  const std::vector<std::string> steps{
      R"({"open": true})",
      R"({"open": "GTM-NONE"})",
      R"({"opener": "GTM-ALSO", "type": "preferFresh", "timeout": 10})",
      R"({"advance": 3600000})",
      R"({"refresh": true})",
      R"({"push": {"event": "x"}})",
      R"({"state": "GTM-NONE"})",
      R"({"advance": 43200000})",
      R"({"state": true})",
  };
  ToolResult first, second;
  run(steps, simulated(), "first", &first);
  run(steps, simulated(), "second", &second);
  EXPECT_GT(jsonLines(first.out).size(), 20u);
  EXPECT_EQ(first.out, second.out);
}

TEST_F(LoomsetRunManager, StepsThatDoNotFitTheClockOrTheirKindAreReported) {
  const auto invalid = [](int line) {
    return [line](const Json& out) {
      return out.value("error", "") == "InvalidStep" && out.value("line", 0) == line;
    };
  };
  auto lines =
      run({R"({"advance": 5})", R"({"wait": 1})", R"({"open": 5})", R"({"open": true, "extra": 1})",
           R"({"opener": true})", R"({"opener": true, "type": "fastest"})", R"({"launch": true})",
           R"({"open": ""})"},
          {"--container-server", server.baseUrl()});
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_TRUE(invalid(1)(lines[0])) << lines[0];  // advance needs simulated time
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_TRUE(invalid(static_cast<int>(i) + 2)(lines[i])) << lines[i];
  }
  lines = run({R"({"wait": 1})", R"({"advance": -1})"}, simulated());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(invalid(1)(lines[0])) << lines[0];
  EXPECT_TRUE(invalid(2)(lines[1])) << lines[1];

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"run", "--container-id", "GTM-SHOP"},  // no server in standard mode
           {"run", "--container-id", "GTM-SHOP", "--container-server", "127.0.0.1:1"},
           {"run", "--container-id", "GTM-SHOP", "--refresh-mode", "default-container",
            "--clock-start", "soon"},
           {"run", "--container-id", "GTM-SHOP", "--refresh-mode", "sometimes"},
           {"run", "--container-id", "GTM-SHOP", "--refresh-mode", "default-container", "shop.bin"},
           {"run", "shop.bin", "--clock-start", "0"},
       }) {
    const ToolResult r = runTool(args);
    EXPECT_EQ(r.exitCode, 1) << args.back() << r.err;
  }
}

TEST_F(LoomsetRunManager, RealTimeRunsEndAfterTheWorkTheyStarted) {
  const auto lines = run({R"({"open": true})", R"({"wait": 3000})", R"({"state": true})",
                          R"({"opener": "GTM-NONE", "type": "preferNonDefault", "timeout": 30})"},
                         {"--container-server", server.baseUrl()});
  ASSERT_EQ(lines.size(), 7u);
  std::vector<Json> open = firstOpen("GTM-SHOP");
  EXPECT_EQ(std::vector<Json>(lines.begin(), lines.begin() + 5), open);
  EXPECT_EQ(lines[5].value("version", ""), "7");
  EXPECT_GT(lines[5].value("lastRefreshTime", std::int64_t{0}), kStart);
  EXPECT_EQ(lines[6], (Json{{"opener", "GTM-NONE"}, {"isDefault", true}, {"version", ""}}));
}

}  // namespace
}  // namespace loomset::testing
