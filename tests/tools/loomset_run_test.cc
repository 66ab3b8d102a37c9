#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "loomset/proto/resource_with_metadata.pb.h"
#include "loomset/proto/serving.pb.h"
#include "support/TempDir.h"
#include "tools/ToolProcess.h"

namespace loomset::testing {
namespace {

using Json = nlohmann::ordered_json;

class LoomsetRun : public ::testing::Test {
 protected:
  void SetUp() override { shop = compileSource(exampleSource("shop.json"), "shop.bin"); }

  std::string compileSource(const std::string& source, const std::string& name) {
    const ToolResult compiled = runTool({"compile", source, "-o", dir.file(name)});
    EXPECT_EQ(compiled.exitCode, 0) << compiled.err;
    return dir.file(name);
  }

  // Runs the steps (one per element, joined as lines) and answers the output lines.
  std::vector<Json> run(const std::string& container, const std::vector<std::string>& steps,
                        std::vector<std::string> options = {}, ToolResult* result = nullptr) {
    std::string text;
    for (const std::string& step : steps) text += step + "\n";
    writeFile(dir.file("steps.jsonl"), text);
    std::vector<std::string> args{"run", container, "--steps", dir.file("steps.jsonl")};
    args.insert(args.end(), options.begin(), options.end());
    const ToolResult r = runTool(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    if (result) *result = r;
    return jsonLines(r.out);
  }

  TempDir dir;
  std::string shop;
};

TEST_F(LoomsetRun, CompiledSourceAnswersStepsInOrder) {
  ToolResult result;
  const auto lines =
      run(shop,
          {
              R"({"get": "greeting"})",
              R"({"get": "maxItems", "type": "int64"})",
              R"({"get": "discountRate", "type": "double"})",
              R"({"get": "saleActive", "type": "boolean"})",
              R"({"get": "banner"})",
              R"({"push": {"user": {"name": "Ann Lee"}}})",
              R"({"get": "banner"})",
              R"({"get": "searchLink"})",
              R"({"get": "color"})",
              R"({"push": {"screen": {"name": "sale"}}})",
              R"({"get": "color"})",
              R"({"get": "loyaltyTier"})",
              R"({"get": "visitCount", "type": "int64"})",
              R"({"dl": "visit"})",
              R"({"push": {"event": "purchase", "order": {"total": 40}}})",
              R"({"dl": "lastPurchase"})",
              R"({"push": {"event": "purchase", "order": {"total": 150.5}}})",
              R"({"dl": "lastPurchase.total"})",
              R"({"dl": "lastPurchase.total.deeper"})",
          },
          {"--tag-handler", "bigOrder", "--macro-handler", R"(tierFor={"tier": "gold", "n": 2})"},
          &result);
  const std::vector<Json> expected = {
      Json::parse(R"({"get": "greeting", "type": "string", "value": "Welcome to the shop"})"),
      Json::parse(R"({"get": "maxItems", "type": "int64", "value": 12})"),
      Json::parse(R"({"get": "discountRate", "type": "double", "value": 0.15})"),
      Json::parse(R"({"get": "saleActive", "type": "boolean", "value": true})"),
      Json::parse(R"({"get": "banner", "type": "string", "value": "Hello, guest!"})"),
      Json::parse(R"({"get": "banner", "type": "string", "value": "Hello, Ann Lee!"})"),
      Json::parse(R"({"get": "searchLink", "type": "string",
                      "value": "https://shop.example/search?q=Ann%20Lee"})"),
      Json::parse(R"({"get": "color", "type": "string", "value": "blue"})"),
      // The rule on the sale screen selects the macro call flagged "not_default_macro".
      Json::parse(R"({"get": "color", "type": "string", "value": "red"})"),
      Json::parse(R"({"get": "loyaltyTier", "type": "string", "value": "{tier=gold, n=2}"})"),
      Json::parse(R"({"get": "visitCount", "type": "int64", "value": 1})"),
      Json::parse(R"({"dl": "visit", "value": {"counted": true}})"),
      // A small purchase: only the data-layer write.
      Json::parse(R"({"dl": "lastPurchase", "value": {"total": 40, "by": "Ann Lee"}})"),
      // A big one also reaches the application's tag handler, during the push.
      Json::parse(R"({"tag": "bigOrder", "params": {"total": "150.5"}})"),
      Json::parse(R"({"dl": "lastPurchase.total", "value": "150.5"})"),
      Json::parse(R"({"dl": "lastPurchase.total.deeper", "absent": true})"),
  };
  ASSERT_EQ(lines.size(), expected.size()) << result.out;
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << i;
}

TEST_F(LoomsetRun, ObjectsPrintByKindAndPushesFollowDataLayerRules) {
  ToolResult result;
  run(shop,
      {
          R"({"push": {"v": {"i": 1, "f": 1.0, "big": 9007199254740993, "neg": -5, "t": true,)"
          R"( "n": null, "s": "x"}}})",
          R"({"dl": "v"})",
          R"({"push": {"l": [1, 2, 3]}})",
          R"({"push": {"l": [{"$notPresent": true}, 9]}})",
          R"({"dl": "l"})",
          R"({"push": {"a.b": {"c": 1}}})",
          R"({"dl": "a.b.c"})",
          R"({"clear": "a"})",
          R"({"dl": "a.b"})",
      },
      {}, &result);
  EXPECT_EQ(result.out,
            "{\"dl\":\"v\",\"value\":{\"i\":1,\"f\":1.0,\"big\":9007199254740993,\"neg\":-5,"
            "\"t\":true,\"n\":null,\"s\":\"x\"}}\n"
            "{\"dl\":\"l\",\"value\":[1,9,3]}\n"
            "{\"dl\":\"a.b.c\",\"value\":1}\n"
            "{\"dl\":\"a.b\",\"value\":null}\n");
}

TEST_F(LoomsetRun, GettersAnswerTheTypeDefaultWhenNothingConverts) {
  const auto lines = run(shop, {
                                   R"({"get": "nope"})",
                                   R"({"get": "nope", "type": "boolean"})",
                                   R"({"get": "nope", "type": "double"})",
                                   R"({"get": "nope", "type": "int64"})",
                                   R"({"get": "greeting", "type": "int64"})",
                                   R"({"get": "discountRate", "type": "int64"})",
                                   R"({"get": "maxItems", "type": "double"})",
                                   R"({"get": "maxItems", "type": "boolean"})",
                                   R"({"get": "saleActive"})",
                               });
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0]["value"], "");
  EXPECT_EQ(lines[1]["value"], false);
  EXPECT_EQ(lines[2]["value"], 0.0);
  EXPECT_TRUE(lines[2]["value"].is_number_float());
  EXPECT_EQ(lines[3]["value"], 0);
  EXPECT_EQ(lines[4]["value"], 0);
  EXPECT_EQ(lines[5]["value"], 0);  // 0.15 truncates toward zero
  EXPECT_EQ(lines[6]["value"], 12.0);
  EXPECT_TRUE(lines[6]["value"].is_number_float());
  EXPECT_EQ(lines[7]["value"], false);  // numbers are not booleans
  EXPECT_EQ(lines[8]["value"], "true");
}

TEST_F(LoomsetRun, MalformedStepsAreReportedAndSkipped) {
  ToolResult result;
  const auto lines = run(shop,
                         {
                             "not json",
                             "",
                             "[1, 2]",
                             R"({"push": [1]})",
                             R"({"push": {"a": 1}, "extra": true})",
                             R"({"get": 3})",
                             R"({"get": "greeting", "type": "float"})",
                             R"({"dl": null})",
                             R"({"clear": {}})",
                             R"({"frob": 1})",
                             R"({"push": {"a": 1, "a": 2}})",
                             "{\"get\": \"greeting\"}\r",
                         },
                         {}, &result);
  ASSERT_EQ(lines.size(), 11u) << result.out;
  const std::vector<int> lineNumbers = {1, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  for (std::size_t i = 0; i < lineNumbers.size(); ++i) {
    EXPECT_EQ(lines[i]["error"], "InvalidStep") << lines[i];
    EXPECT_EQ(lines[i]["line"], lineNumbers[i]) << lines[i];
  }
  EXPECT_EQ(lines[3]["reason"], "unknown member \"extra\"");
  EXPECT_EQ(lines[9]["reason"], "$.push.a: duplicate member");
  EXPECT_EQ(lines[10]["value"], "Welcome to the shop");
}

TEST_F(LoomsetRun, PushLoopIsReportedAndTheRunGoesOn) {
  const std::string loop = compileSource(testData("push_loop.json"), "loop.bin");
  const auto lines = run(loop, {
                                   R"({"push": {"event": "start"}})",
                                   R"({"push": {"calm": 1}})",
                                   R"({"dl": "calm"})",
                               });
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], Json::parse(R"({"error": "MOXListenerPushLoop",
      "reason": "Seems like an infinite loop of pushing to the data layer?"})"));
  EXPECT_EQ(lines[1], Json::parse(R"({"dl": "calm", "value": 1})"));
}

TEST_F(LoomsetRun, DefaultContainersFromJsonAndPropertyLists) {
  const std::vector<std::string> steps = {
      R"({"get": "greeting"})", R"({"get": "count", "type": "int64"})",
      R"({"get": "ratio", "type": "double"})", R"({"get": "enabled", "type": "boolean"})"};
  for (const std::string& file : {"default_container.json", "default_container.plist"}) {
    const auto lines = run(testData(file), steps);
    ASSERT_EQ(lines.size(), 4u) << file;
    EXPECT_EQ(lines[0]["value"], "hello") << file;
    EXPECT_EQ(lines[1]["value"], 3) << file;
    EXPECT_EQ(lines[2]["value"], 2.5) << file;
    EXPECT_EQ(lines[3]["value"], true) << file;
  }
  EXPECT_EQ(run(testData("default_container.json"), {R"({"get": "nested"})"})[0]["value"],
            "{a=1, b=two}");

  struct Bad {
    std::string name, content, reason;
  };
  const std::vector<Bad> bad = {
      {"array.json", R"({"list": [1, 2]})",
       "not a default container: Type NSArray is not supported"},
      {"broken.json", R"({"a": )", ""},
      {"root.plist",
       "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>a</string></array></plist>",
       "the property list's root is NSArray, not a dictionary"},
      {"broken.plist", "<plist><dict><key>a</key>", ""},
  };
  for (const Bad& b : bad) {
    writeFile(dir.file(b.name), b.content);
    const ToolResult r = runTool({"run", dir.file(b.name)});
    EXPECT_EQ(r.exitCode, 2) << b.name;
    EXPECT_EQ(r.err.rfind("loomset run: " + dir.file(b.name) + ": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(b.reason), std::string::npos) << b.name << ": " << r.err;
    EXPECT_EQ(r.out, "") << b.name;
  }
}

TEST_F(LoomsetRun, ServerResponsesAndSavedFilesLoadWithAs) {
  MOXPResource resource;
  ASSERT_TRUE(resource.ParseFromString(readFile(shop)));
  MOXPLegacyRawProtoSupplementedResource response;
  *response.mutable_resource() = resource;
  writeFile(dir.file("response"), response.SerializeAsString());
  MOXPResourceWithMetadata saved;
  saved.set_time_stamp(1);
  saved.mutable_resource();
  *saved.mutable_supplemented_resource() = response;
  writeFile(dir.file("saved"), saved.SerializeAsString());

  EXPECT_EQ(
      run(dir.file("response"), {R"({"get": "greeting"})"}, {"--as", "supplemented"})[0]["value"],
      "Welcome to the shop");
  EXPECT_EQ(run(dir.file("saved"), {R"({"get": "greeting"})"}, {"--as", "saved"})[0]["value"],
            "Welcome to the shop");

  // Read as the wrong kind, or without a resource, the container is refused.
  MOXPLegacyRawProtoSupplementedResource unchanged;
  unchanged.set_fingerprint("f");
  writeFile(dir.file("unchanged"), unchanged.SerializeAsString());
  const ToolResult noResource = runTool({"run", dir.file("unchanged"), "--as", "supplemented"});
  EXPECT_EQ(noResource.exitCode, 2);
  EXPECT_NE(noResource.err.find("holds no resource"), std::string::npos) << noResource.err;
  EXPECT_EQ(runTool({"run", dir.file("saved")}).exitCode, 2);
}

TEST_F(LoomsetRun, CommandLineAndContainerFailuresExitWithTheirStatus) {
  MOXPResource broken;
  ASSERT_TRUE(broken.ParseFromString(readFile(shop)));
  broken.mutable_rule(0)->add_add_tag(40);
  writeFile(dir.file("broken.bin"), broken.SerializeAsString());
  const ToolResult invalid = runTool({"run", dir.file("broken.bin")});
  EXPECT_EQ(invalid.exitCode, 2);
  EXPECT_NE(invalid.err.find("invalid resource:"), std::string::npos) << invalid.err;
  EXPECT_EQ(runTool({"run", dir.file("absent.bin")}).exitCode, 2);

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"run"},
           {"run", shop, shop},
           {"run", shop, "--speed", "3"},
           {"run", shop, "--log-level", "loud"},
           {"run", shop, "--macro-handler", "noequals"},
           {"run", shop, "--macro-handler", "m={bad"},
           {"run", shop, "--as", "json"},
           {"run", shop, "--steps", dir.file("absent.jsonl")},
           {"run", shop, "--steps"},
       }) {
    const ToolResult r = runTool(args);
    EXPECT_EQ(r.exitCode, 1) << args.back();
    EXPECT_NE(r.err.find("usage: loomset run"), std::string::npos) << r.err;
  }
}

TEST_F(LoomsetRun, ReadsStepsFromStandardInputAndHonoursTheLogLevel) {
  const std::string steps = "{\"get\": \"nope\"}\n";
  const ToolResult quiet = runTool({"run", shop, "--log-level", "none"}, steps);
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.out, "{\"get\":\"nope\",\"type\":\"string\",\"value\":\"\"}\n");
  EXPECT_EQ(quiet.err, "");

  const ToolResult loud = runTool({"run", shop, "--log-level", "error"}, steps);
  EXPECT_EQ(loud.out, quiet.out);
  EXPECT_NE(loud.err.find("error: Invalid macro: nope"), std::string::npos) << loud.err;

  // The data root given is created and kept.
  const std::string root = dir.file("root/nested");
  EXPECT_EQ(runTool({"run", shop, "--data-dir", root}, steps).exitCode, 0);
  EXPECT_TRUE(std::filesystem::is_directory(root));
}

}  // namespace
}  // namespace loomset::testing
