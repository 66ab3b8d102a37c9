// `loomset track` end to end: its JSON Lines steps drive real trackers, the real dispatcher sends
// to a `loomset-devserver` child process, and the collector's records are checked.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "tools/DevServerProcess.h"
#include "tools/ToolProcess.h"

namespace loomset::testing {
namespace {

using Json = nlohmann::ordered_json;

// The collector's records once at least `count` are there (after the track run they all are).
Json hitsOf(const DevServerProcess& server, std::size_t count = 0) {
  const HttpResponse answer =
      httpGet(server.url("/hits?min=" + std::to_string(count) + "&timeout=20000"));
  EXPECT_EQ(answer.status, 200);
  return Json::parse(answer.body);
}

// The record whose hit has the parameter `key` = `value`.
Json hitWith(const Json& hits, const std::string& key, const std::string& value) {
  for (const auto& hit : hits) {
    if (hit["params"].value(key, "") == value) return hit;
  }
  ADD_FAILURE() << "no hit with " << key << "=" << value << " in " << hits.dump();
  return Json::object();
}

double nowMillis() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class TrackProtocol : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.started()); }
  DevServerProcess server_;
};

TEST_F(TrackProtocol, SentHitsReachTheCollectorWithTheirParameters) {
  const double before = nowMillis();
  const TrackResult run = runTrack(server_.baseUrl(), R"(
{"tracker": "shop", "tid": "UA-TEST-1"}
{"set": {"&cd": "Home", "&sr": null}, "tracker": "shop"}
{"send": {"&t": "screenview"}, "tracker": "shop"}
{"send": {"&t": "event", "&ec": "cart", "&ea": "add", "&el": null, "&ev": 2, "timestamp": "$now-60s"}}
{"clientId": true}
{"dispatch": true}
)");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.lines.size(), 2u) << run.err;
  const std::string clientId = run.lines[0].value("clientId", "");
  EXPECT_EQ(clientId.size(), 36u) << run.lines[0];
  EXPECT_EQ(run.lines[1], Json::parse(R"({"dispatch": 1})"));

  const Json hits = hitsOf(server_, 2);
  ASSERT_EQ(hits.size(), 2u);
  // Two hits go out together, as one batch to the secure host.
  EXPECT_EQ(hits[0]["path"], "/batch");
  EXPECT_EQ(hits[0]["method"], "POST");

  const Json screen = hitWith(hits, "t", "screenview")["params"];
  const Json event = hitWith(hits, "t", "event")["params"];
  for (const Json& hit : {screen, event}) {
    EXPECT_EQ(hit.value("tid", ""), "UA-TEST-1");
    EXPECT_EQ(hit.value("cid", ""), clientId);
    EXPECT_EQ(hit.value("v", ""), "1");
    EXPECT_EQ(hit.value("_v", ""), "mi3.1.7");
    EXPECT_EQ(hit.value("cd", ""), "Home");   // the tracker's field
    EXPECT_FALSE(hit.contains("sr")) << hit;  // masked by the tracker's null
    EXPECT_TRUE(hit.contains("z") && hit.contains("ht")) << hit;
    EXPECT_FALSE(hit.contains("pluVersion") || hit.contains("useSecure")) << hit;
  }
  // The second step names no tracker: the first one created is the default.
  EXPECT_EQ(event.value("ec", ""), "cart");
  EXPECT_EQ(event.value("ea", ""), "add");
  EXPECT_EQ(event.value("ev", ""), "2");
  EXPECT_FALSE(event.contains("el"));
  // "$now-60s" made the event a minute old: its hit time says so, and so does its queue time.
  const double eventTime = std::stod(event.value("ht", "0"));
  EXPECT_GT(eventTime, before - 61000);
  EXPECT_LT(eventTime, before - 59000);
  EXPECT_GE(std::stod(event.value("qt", "0")), 60000);
  EXPECT_GE(std::stod(screen.value("ht", "0")), before - 1000);
}

TEST_F(TrackProtocol, DrainCountsTheDispatchesThatSent) {
  std::string steps = R"({"tracker": "t", "tid": "UA-TEST-2"})"
                      "\n";
  for (int i = 1; i <= 25; ++i) {
    steps += R"({"send": {"&t": "screenview", "&cd": "screen )" + std::to_string(i) +
             R"("}, "tracker": "t"})"
             "\n";
  }
  steps += R"({"drain": true})"
           "\n"
           R"({"drain": true})"
           "\n";
  const TrackResult run = runTrack(server_.baseUrl(), steps);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.lines.size(), 2u) << run.err;
  // At most 20 hits go out per dispatch, so 25 take at least two.
  const int drained = run.lines[0].value("drained", -1);
  EXPECT_GE(drained, 2) << run.lines[0];
  EXPECT_LE(drained, 25) << run.lines[0];
  EXPECT_FALSE(run.lines[0].contains("failed"));
  EXPECT_EQ(run.lines[1], Json::parse(R"({"drained": 0})"));

  const Json hits = hitsOf(server_, 25);
  ASSERT_EQ(hits.size(), 25u);
  for (int i = 1; i <= 25; ++i) hitWith(hits, "cd", "screen " + std::to_string(i));
}

TEST_F(TrackProtocol, DryRunSendsNothingYetReportsHitsAsSent) {
  const TrackResult run = runTrack(server_.baseUrl(), R"(
{"tracker": "t", "tid": "UA-TEST-3"}
{"send": {"&t": "event", "&ea": "one"}, "tracker": "t"}
{"send": {"&t": "event", "&ea": "two"}, "tracker": "t"}
{"drain": true}
{"dispatch": true}
)",
                                   {"--dry-run"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.lines.size(), 2u) << run.err;
  EXPECT_EQ(run.lines[0], Json::parse(R"({"drained": 1})"));
  EXPECT_EQ(run.lines[1], Json::parse(R"({"dispatch": 0})"));
  // Every dispatch of the run has completed: anything sent would be there by now.
  EXPECT_EQ(hitsOf(server_).size(), 0u);
}

TEST_F(TrackProtocol, OptingOutDropsStoredHitsAndHitsSentMeanwhile) {
  const TrackResult run = runTrack(server_.baseUrl(), R"(
{"tracker": "t", "tid": "UA-TEST-4"}
{"send": {"&t": "event", "&ea": "before"}, "tracker": "t"}
{"optOut": true}
{"send": {"&t": "event", "&ea": "during"}, "tracker": "t"}
{"drain": true}
{"optOut": false}
{"send": {"&t": "event", "&ea": "after"}, "tracker": "t"}
{"drain": true}
)");
  // Hits are queued to the dispatcher's thread and judged there; the drain while opted out
  // lets that happen before opting in again.
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.lines.size(), 2u) << run.err;
  EXPECT_EQ(run.lines[0], Json::parse(R"({"drained": 0})"));
  EXPECT_EQ(run.lines[1], Json::parse(R"({"drained": 1})"));
  const Json hits = hitsOf(server_);
  ASSERT_EQ(hits.size(), 1u) << hits.dump();
  EXPECT_EQ(hits[0]["params"]["ea"], "after");
}

TEST_F(TrackProtocol, PlainHitsGoToThePlainCollector) {
  DevServerProcess plain;
  ASSERT_TRUE(plain.started());
  const TrackResult run = runTrack(server_.baseUrl(), R"(
{"tracker": "t", "tid": "UA-TEST-5"}
{"send": {"&t": "event", "&ea": "secure"}, "tracker": "t"}
{"send": {"&t": "event", "&ea": "plain", "useSecure": "0"}, "tracker": "t"}
{"drain": true}
)",
                                   {"--collector-plain", plain.baseUrl()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // One request never mixes them: two dispatches.
  EXPECT_EQ(run.lines.at(0), Json::parse(R"({"drained": 2})"));
  const Json secureHits = hitsOf(server_, 1);
  const Json plainHits = hitsOf(plain, 1);
  ASSERT_EQ(secureHits.size(), 1u);
  ASSERT_EQ(plainHits.size(), 1u);
  EXPECT_EQ(secureHits[0]["params"]["ea"], "secure");
  EXPECT_EQ(plainHits[0]["params"]["ea"], "plain");
  EXPECT_EQ(plainHits[0]["path"], "/collect");  // a single hit
}

TEST_F(TrackProtocol, MalformedStepsAreReportedAndTheRunGoesOn) {
  const TrackResult run =
      runTrack(server_.baseUrl(),
               "{oops\n"
               "[1, 2]\n"
               "{\"fly\": true}\n"
               "{\"send\": {\"&t\": \"event\"}, \"tracker\": \"ghost\"}\n"
               "{\"tracker\": \"t\", \"tid\": \"UA-TEST-6\"}\n"
               "{\"send\": {\"&t\": true}, \"tracker\": \"t\"}\n"
               "{\"send\": {\"timestamp\": \"$now-x\"}, \"tracker\": \"t\"}\n"
               "{\"dispatch\": \"yes\"}\n"
               "{\"wait\": -5}\n"
               "{\"optOut\": \"no\"}\n"
               "{\"tracker\": \"  \", \"tid\": \"UA-X\"}\n"
               "{\"send\": {\"&t\": \"event\", \"&ea\": \"ok\"}, \"bogus\": 1}\n"
               "{\"send\": {\"&t\": \"event\", \"&ea\": \"ok\"}, \"tracker\": \"t\"}\n"
               "{\"drain\": true}\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.lines.size(), 12u) << run.err;
  const int badLines[] = {1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12};
  for (std::size_t i = 0; i < 11; ++i) {
    EXPECT_EQ(run.lines[i].value("error", ""), "InvalidStep") << run.lines[i];
    EXPECT_EQ(run.lines[i].value("line", 0), badLines[i]) << run.lines[i];
    EXPECT_FALSE(run.lines[i].value("reason", "").empty()) << run.lines[i];
  }
  EXPECT_EQ(run.lines[11], Json::parse(R"({"drained": 1})"));
  const Json hits = hitsOf(server_);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0]["params"]["ea"], "ok");
}

TEST(TrackCommandLine, RefusesBadOptions) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"track", "--log-level", "loud"},
        {"track", "--dispatch-interval", "soon"},
        {"track", "--collector-secure", "127.0.0.1:9"},
        {"track", "extra"},
        {"track", "--steps", "/nonexistent/steps"}}) {
    const ToolResult result = runTool(args);
    EXPECT_EQ(result.exitCode, 1) << args[1];
    EXPECT_EQ(result.out, "") << args[1];
  }
}

}  // namespace
}  // namespace loomset::testing
