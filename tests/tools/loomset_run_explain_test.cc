// The `explain` step of `loomset run`: a getter's value with the call, rule, cache and failure
// behind it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TempDir.h"
#include "tools/ToolProcess.h"

namespace loomset::testing {
namespace {

using Json = nlohmann::ordered_json;

class LoomsetRunExplain : public ::testing::Test {
 protected:
  void SetUp() override {
    const ToolResult compiled =
        runTool({"compile", exampleSource("shop.json"), "-o", dir.file("shop.bin")});
    ASSERT_EQ(compiled.exitCode, 0) << compiled.err;
  }

  std::vector<Json> run(const std::vector<std::string>& steps,
                        std::vector<std::string> options = {}) {
    std::string text;
    for (const std::string& step : steps) text += step + "\n";
    writeFile(dir.file("steps.jsonl"), text);
    std::vector<std::string> args{"run", dir.file("shop.bin"), "--steps", dir.file("steps.jsonl")};
    args.insert(args.end(), options.begin(), options.end());
    const ToolResult result = runTool(args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return jsonLines(result.out);
  }

  TempDir dir;
};

TEST_F(LoomsetRunExplain, NamesTheCallAndTheRuleBehindTheValue) {
  const auto lines = run({R"({"explain": "color"})", R"({"push": {"screen": {"name": "sale"}}})",
                          R"({"explain": "color", "type": "string"})"});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].dump(),
            R"({"explain":"color","type":"string","value":"blue","containerVersion":"7",)"
            R"("call":{"instanceName":"color","position":0,"default":true},"static":false,)"
            R"("fromStaticCache":false,"failure":"none"})");
  EXPECT_EQ(lines[1]["value"], "red");
  EXPECT_EQ(lines[1]["call"].dump(), R"({"instanceName":"color","position":1,"rule":2})");
}

TEST_F(LoomsetRunExplain, TellsWhenThePlainGetterAnswersFromTheStaticCache) {
  const auto lines =
      run({R"({"explain": "maxItems", "type": "int64"})", R"({"get": "maxItems", "type": "int64"})",
           R"({"explain": "maxItems", "type": "int64"})"});
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0]["value"], 12);
  EXPECT_EQ(lines[0]["static"], true);
  EXPECT_EQ(lines[0]["fromStaticCache"], false);
  EXPECT_EQ(lines[2]["value"], 12);
  EXPECT_EQ(lines[2]["fromStaticCache"], true);
}

TEST_F(LoomsetRunExplain, NamesFailuresWithTheirReasons) {
  const auto lines =
      run({R"({"explain": "greeting", "type": "int64"})",
           R"({"explain": "nothing", "type": "boolean"})", R"({"explain": "loyaltyTier"})",
           R"({"explain": 5})", R"({"explain": "color", "extra": 1})",
           R"({"explain": "color", "type": "float"})"});
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0]["value"], 0);
  EXPECT_EQ(lines[0]["failure"], "conversionFailed");
  EXPECT_EQ(lines[0]["failureReason"], "Failed to convert Welcome to the shop to a number.");
  EXPECT_EQ(lines[1]["value"], false);
  EXPECT_EQ(lines[1]["failure"], "noSuchMacro");
  EXPECT_EQ(lines[1]["failureReason"], "Invalid macro: nothing");
  EXPECT_TRUE(lines[1]["call"].is_null());
  // No handler is registered behind "_func": the implementation reported its failure.
  EXPECT_EQ(lines[2]["failure"], "evaluationFailed");
  EXPECT_EQ(lines[2]["call"]["instanceName"], "loyaltyTier");
  EXPECT_EQ(lines[2]["failureReason"], "Converting to Value from unknown object type: nil");
  for (std::size_t i = 3; i < 6; ++i) EXPECT_EQ(lines[i]["error"], "InvalidStep") << lines[i];
}

TEST_F(LoomsetRunExplain, AgreesWithGetUnderAHandler) {
  const auto lines = run({R"({"explain": "loyaltyTier"})", R"({"get": "loyaltyTier"})"},
                         {"--macro-handler", R"(tierFor={"tier":"gold"})"});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["value"], lines[1]["value"]);
  EXPECT_EQ(lines[0]["failure"], "none");
  EXPECT_EQ(lines[0]["static"], false);
}

}  // namespace
}  // namespace loomset::testing
